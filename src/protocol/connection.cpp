#include "protocol/connection.h"

#include <algorithm>
#include <cstring>

#include "platform/socket_options.h"

namespace sqv64 {
namespace {

// One call of the kernel's file sending takes at most this much; it sends
// what the socket takes and returns.
constexpr std::size_t kLargestFileSend = std::size_t{64} << 20;

bool WouldBlock(const asio::error_code& error) {
  return error == asio::error::would_block || error == asio::error::try_again;
}

}  // namespace

Connection::Connection(asio::ip::tcp::socket socket, asio::any_io_executor blocking_executor,
                       std::chrono::milliseconds idle_timeout)
    : socket_(std::move(socket)),
      blocking_executor_(std::move(blocking_executor)),
      idle_timeout_(idle_timeout),
      idle_timer_(socket_.get_executor()) {
  asio::error_code error;
  asio::ip::tcp::endpoint remote = socket_.remote_endpoint(error);
  if (!error)
    remote_address_ = remote.address();
  // Reads and sends are tried at once and waited for only when they would
  // block.
  asio::error_code ignored;
  socket_.non_blocking(true, ignored);
}

void Connection::ArmIdleTimer() {
  // The timer and the socket's operations run on this connection's
  // executor, one at a time. A timer that fires at the deadline cancels the
  // wait in progress, which then ends with operation_aborted. The timer is
  // cancelled only when the connection goes, so a cancelled firing must not
  // touch it.
  timer_armed_ = true;
  idle_timer_.expires_at(idle_deadline_);
  idle_timer_.async_wait([this](const asio::error_code& error) {
    if (error) {
      return;
    }
    timer_armed_ = false;
    if (!waiting_) {
      return;
    }
    if (std::chrono::steady_clock::now() >= idle_deadline_) {
      asio::error_code ignored;
      socket_.cancel(ignored);
      return;
    }
    ArmIdleTimer();
  });
}

asio::awaitable<void> Connection::WaitUntilReady(asio::socket_base::wait_type what) {
  idle_deadline_ = std::chrono::steady_clock::now() + idle_timeout_;
  waiting_ = true;
  if (!timer_armed_) {
    ArmIdleTimer();
  }
  asio::error_code error;
  co_await socket_.async_wait(what, asio::redirect_error(asio::use_awaitable, error));
  waiting_ = false;
  if (aborted_) {
    throw asio::system_error(asio::error::operation_aborted);
  }
  if (error) {
    throw asio::system_error(error);
  }
}

asio::awaitable<std::size_t> Connection::ReadWithTimeout(char* buffer, std::size_t size) {
  for (;;) {
    if (aborted_) {
      throw asio::system_error(asio::error::operation_aborted);
    }
    asio::error_code error;
    std::size_t received = socket_.read_some(asio::buffer(buffer, size), error);
    if (!error) {
      co_return received;
    }
    if (error == asio::error::eof) {
      co_return 0;
    }
    if (!WouldBlock(error)) {
      throw asio::system_error(error);
    }
    co_await WaitUntilReady(asio::socket_base::wait_read);
  }
}

asio::awaitable<std::optional<std::string>> Connection::ReadLine(std::size_t longest) {
  std::string line;
  char chunk[4096];
  try {
    for (;;) {
      std::size_t received = co_await ReadWithTimeout(chunk, sizeof chunk);
      if (received == 0) {
        co_return std::nullopt;
      }
      std::string_view bytes(chunk, received);
      std::size_t end = bytes.find('\n');
      std::size_t kept = end == std::string_view::npos ? received : end;
      if (line.size() + kept > longest) {
        co_return std::nullopt;
      }
      line.append(bytes.substr(0, kept));
      if (end != std::string_view::npos) {
        pending_.assign(bytes.substr(end + 1));
        co_return line;
      }
    }
  } catch (const asio::system_error&) {
    co_return std::nullopt;
  }
}

asio::awaitable<std::size_t> Connection::ReceiveSome(char* buffer, std::size_t size) {
  if (!pending_.empty()) {
    std::size_t taken = std::min(size, pending_.size());
    std::memcpy(buffer, pending_.data(), taken);
    pending_.erase(0, taken);
    co_return taken;
  }
  co_return co_await ReadWithTimeout(buffer, size);
}

asio::awaitable<void> Connection::Send(std::string_view bytes) {
  // A client that takes nothing for the idle time-out loses its reply.
  while (!bytes.empty()) {
    if (aborted_) {
      throw asio::system_error(asio::error::operation_aborted);
    }
    asio::error_code error;
    std::size_t sent = socket_.write_some(asio::buffer(bytes.data(), bytes.size()), error);
    if (!error) {
      reply_started_ = reply_started_ || sent > 0;
      bytes.remove_prefix(sent);
    } else if (WouldBlock(error)) {
      co_await WaitUntilReady(asio::socket_base::wait_write);
    } else {
      throw asio::system_error(error);
    }
  }
}

asio::awaitable<bool> Connection::SendFile(platform::File& file) {
  using Outcome = platform::SocketSend::Outcome;
  const platform::NativeSocket native = socket_.native_handle();
  platform::HoldPartialSegments(native, true);
  bool sent_any = false;
  for (;;) {
    if (aborted_) {
      throw asio::system_error(asio::error::operation_aborted);
    }
    platform::SocketSend step;
    try {
      step = file.SendToSocket(native, kLargestFileSend);
    } catch (const platform::IoError&) {
      // A client must never take a cut file for a whole one.
      if (sent_any) {
        Reset();
      }
      throw;
    }
    switch (step.outcome) {
      case Outcome::kSent:
        sent_any = true;
        reply_started_ = true;
        break;
      case Outcome::kSocketFull:
        co_await WaitUntilReady(asio::socket_base::wait_write);
        break;
      case Outcome::kEndOfFile:
        platform::HoldPartialSegments(native, false);
        co_return true;
      case Outcome::kUnsupported:
        if (sent_any) {
          // Part of the file went out; the rest cannot follow the same way.
          Reset();
          throw platform::IoError("the file could not be sent on");
        }
        platform::HoldPartialSegments(native, false);
        co_return false;
    }
  }
}

void Connection::Reset() {
  asio::error_code ignored;
  socket_.set_option(asio::socket_base::linger(true, 0), ignored);
  socket_.close(ignored);
}

void Connection::Abort() {
  aborted_ = true;
  asio::error_code ignored;
  socket_.close(ignored);
}

void Connection::Close() {
  asio::error_code ignored;
  socket_.shutdown(asio::socket_base::shutdown_both, ignored);
  socket_.close(ignored);
}

}  // namespace sqv64
