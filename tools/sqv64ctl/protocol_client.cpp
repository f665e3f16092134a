#include "protocol_client.h"

#include <asio.hpp>

namespace sqv64 {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// Every argument outlives the coroutine: they belong to the caller of
// io_context::run. `activity` is the last moment bytes moved.
asio::awaitable<void> ReadReply(tcp::socket& socket,
                                const std::function<void(std::string_view)>& received,
                                ProtocolReply& reply, Clock::time_point& activity) {
  char chunk[65536];
  for (;;) {
    asio::error_code error;
    std::size_t got = co_await socket.async_read_some(
        asio::buffer(chunk), asio::redirect_error(asio::use_awaitable, error));
    activity = Clock::now();
    if (got > 0)
      received(std::string_view(chunk, got));
    if (error == asio::error::eof)
      co_return;
    if (error) {
      if (reply.end == ProtocolReply::End::kClosed) {
        reply.end = ProtocolReply::End::kReset;
        reply.error = error.message();
      }
      co_return;
    }
  }
}

asio::awaitable<void> Exchange(tcp::socket& socket, tcp::resolver::results_type endpoints,
                               std::string_view request_line,
                               const std::function<std::string()>& next_chunk,
                               bool close_sending_side,
                               const std::function<void(std::string_view)>& received,
                               ProtocolReply& reply, Clock::time_point& activity) {
  asio::error_code error;
  co_await asio::async_connect(socket, endpoints, asio::redirect_error(asio::use_awaitable, error));
  if (error) {
    reply.end = ProtocolReply::End::kCannotConnect;
    reply.error = error.message();
    co_return;
  }
  activity = Clock::now();
  // The reply is read while the payload goes out, so that a server that
  // answers early never deadlocks against a full send buffer.
  asio::co_spawn(socket.get_executor(), ReadReply(socket, received, reply, activity),
                 asio::detached);

  co_await asio::async_write(socket, asio::buffer(request_line.data(), request_line.size()),
                             asio::redirect_error(asio::use_awaitable, error));
  activity = Clock::now();
  while (!error) {
    std::string chunk = next_chunk();
    if (chunk.empty())
      break;
    co_await asio::async_write(socket, asio::buffer(chunk),
                               asio::redirect_error(asio::use_awaitable, error));
    activity = Clock::now();
  }
  if (!error && close_sending_side) {
    socket.shutdown(tcp::socket::shutdown_send, error);
  }
}

}  // namespace

ProtocolReply ProtocolClient::Execute(std::string_view request_line,
                                      const std::function<std::string()>& next_chunk,
                                      bool close_sending_side,
                                      const std::function<void(std::string_view)>& received) const {
  ProtocolReply reply;
  asio::io_context io;
  tcp::resolver resolver(io);
  asio::error_code error;
  auto endpoints = resolver.resolve(host_, std::to_string(port_), error);
  if (error) {
    reply.end = ProtocolReply::End::kCannotConnect;
    reply.error = error.message();
    return reply;
  }
  tcp::socket socket(io);
  const Clock::time_point start = Clock::now();
  Clock::time_point activity = start;
  asio::co_spawn(io,
                 Exchange(socket, endpoints, request_line, next_chunk, close_sending_side, received,
                          reply, activity),
                 asio::detached);
  auto deadline = [&] { return (kind_ == Timeout::kIdle ? activity : start) + timeout_; };
  // Runs until the exchange ends, or until the deadline, which moves on
  // with every byte in idle mode.
  while (!io.stopped() && Clock::now() < deadline()) {
    io.run_until(deadline());
  }
  if (!io.stopped()) {
    reply.end = ProtocolReply::End::kTimedOut;
    reply.error = "no reply within the time-out";
    asio::error_code ignored;
    socket.close(ignored);
    io.run();
  }
  return reply;
}

ProtocolReply ProtocolClient::RunStreaming(
    std::string_view request_line, const std::function<std::string()>& next_chunk,
    const std::function<void(std::string_view)>& received) const {
  return Execute(request_line, next_chunk, true, received);
}

ProtocolReply ProtocolClient::Run(std::string_view client_name, std::string_view command,
                                  std::string_view payload) const {
  std::string request(client_name);
  request += '\t';
  request += command;
  request += '\n';
  request += payload;
  return RunRaw(request);
}

ProtocolReply ProtocolClient::RunRaw(std::string_view request, bool close_sending_side) const {
  ProtocolReply reply;
  auto collect = [&reply](std::string_view chunk) { reply.bytes.append(chunk); };
  ProtocolReply end = Execute(
      request, [] { return std::string(); }, close_sending_side, collect);
  end.bytes = std::move(reply.bytes);
  return end;
}

}  // namespace sqv64
