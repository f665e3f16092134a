#include "protocol/connection.h"

#include <algorithm>
#include <cstring>

namespace sqv64 {

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
}

void Connection::StartIdleTimer() {
  // The timer and the socket's operations run on this connection's strand.
  // A timer that fires cancels the operation it was started for, which then
  // ends with operation_aborted; the generation keeps a firing that was
  // already queued from touching the next operation.
  std::uint64_t generation = ++idle_generation_;
  idle_timer_.expires_after(idle_timeout_);
  idle_timer_.async_wait([this, generation](const asio::error_code& error) {
    if (!error && generation == idle_generation_) {
      asio::error_code ignored;
      socket_.cancel(ignored);
    }
  });
}

void Connection::StopIdleTimer() {
  ++idle_generation_;
  idle_timer_.cancel();
}

asio::awaitable<std::size_t> Connection::ReadWithTimeout(char* buffer, std::size_t size) {
  StartIdleTimer();
  asio::error_code error;
  std::size_t received = co_await socket_.async_read_some(
      asio::buffer(buffer, size), asio::redirect_error(asio::use_awaitable, error));
  StopIdleTimer();
  if (aborted_) {
    throw asio::system_error(asio::error::operation_aborted);
  }
  if (error == asio::error::eof) {
    co_return 0;
  }
  if (error) {
    throw asio::system_error(error);
  }
  co_return received;
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
  StartIdleTimer();
  asio::error_code error;
  co_await asio::async_write(socket_, asio::buffer(bytes.data(), bytes.size()),
                             asio::redirect_error(asio::use_awaitable, error));
  StopIdleTimer();
  if (error) {
    throw asio::system_error(error);
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
