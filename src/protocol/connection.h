// One accepted client connection, as the command handlers see it: the
// request line, the payload in chunks, the reply, and a way to run blocking
// file work off the network threads.
//
// Every read waits at most the idle time-out for the next bytes, and every
// send at most that long for the client to take them; a client that stalls
// for that long is treated like one that reset the connection. A Connection belongs to the one
// coroutine that serves it; only Close may be called from elsewhere (through the server).
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace sqv64 {

class Connection {
 public:
  Connection(asio::ip::tcp::socket socket, asio::any_io_executor blocking_executor,
             std::chrono::milliseconds idle_timeout);

  // The bytes before the first LF (a CR before it is dropped later, by the
  // line splitter); nullopt when the client closes first, goes idle, or
  // sends more than `longest` bytes without an LF.
  asio::awaitable<std::optional<std::string>> ReadLine(std::size_t longest);

  // Up to `size` payload bytes; 0 once the client has closed its side.
  // Throws asio::system_error when the client resets or goes idle.
  asio::awaitable<std::size_t> ReceiveSome(char* buffer, std::size_t size);

  // Sends all of `bytes`. Throws asio::system_error on failure.
  asio::awaitable<void> Send(std::string_view bytes);

  // Ends the connection so that the client sees a reset, not a normal end:
  // for a reply that could not be completed after bytes went out.
  void Reset();
  // Ends the connection normally.
  void Close();
  // Ends the connection from outside its coroutine (the server stopping):
  // whatever it was waiting for fails, so a payload cut this way is never
  // taken for a whole one. Runs on the connection's executor.
  void Abort();

  // Runs `work` on the blocking-work threads and resumes with its result (or
  // its exception) on this connection's executor.
  template <typename Work>
  asio::awaitable<std::invoke_result_t<Work>> Blocking(Work work) {
    using Result = std::invoke_result_t<Work>;
    co_return co_await asio::co_spawn(
        blocking_executor_, [&work]() -> asio::awaitable<Result> { co_return work(); },
        asio::use_awaitable);
  }

  asio::any_io_executor executor() { return socket_.get_executor(); }

  // The client's address as the connection was accepted (unspecified when
  // the system could not say).
  const asio::ip::address& remote_address() const { return remote_address_; }

 private:
  // Reads at most `size` bytes into `buffer`, within the idle time-out.
  asio::awaitable<std::size_t> ReadWithTimeout(char* buffer, std::size_t size);
  void StartIdleTimer();
  void StopIdleTimer();

  asio::ip::tcp::socket socket_;
  asio::ip::address remote_address_;
  asio::any_io_executor blocking_executor_;
  std::chrono::milliseconds idle_timeout_;
  asio::steady_timer idle_timer_;
  std::uint64_t idle_generation_ = 0;
  bool aborted_ = false;
  std::string pending_;  // bytes received after the request line's LF
};

}  // namespace sqv64
