// One accepted client connection, as the command handlers see it: the
// request line, the payload in chunks, the reply, and a way to run blocking
// file work off the network threads.
//
// Every read waits at most the idle time-out for the next bytes, and every
// send at most that long for the client to take them; a client that stalls
// for that long is treated like one that reset the connection. Reads and
// sends that can be done at once are done at once, without a timer. A
// Connection belongs to the one coroutine that serves it, on its executor;
// only Abort may be called from elsewhere (posted there by the server).
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/platform.h"

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

  // Sends `file` from its position to its end straight from the kernel's
  // cache, where the platform can. Returns false, with nothing sent, when
  // the file cannot go that way; the caller then reads and sends it. Throws
  // platform::IoError when the file cannot be read (having reset the
  // connection when part of the file went out), asio::system_error when the
  // client resets or takes nothing for the idle time-out.
  asio::awaitable<bool> SendFile(platform::File& file);

  // Whether any reply bytes have gone out.
  bool ReplyStarted() const { return reply_started_; }

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
  // its exception) on this connection's executor. Work once started runs to
  // its end: a cancellation of the awaiting operation (the other half of a
  // receive-while-writing failing) is not passed on to the blocking thread,
  // whose state it would touch from this one.
  template <typename Work>
  asio::awaitable<std::invoke_result_t<Work>> Blocking(Work work) {
    using Result = std::invoke_result_t<Work>;
    co_return co_await asio::co_spawn(
        blocking_executor_, [&work]() -> asio::awaitable<Result> { co_return work(); },
        asio::bind_cancellation_slot(asio::cancellation_slot(), asio::use_awaitable));
  }

  asio::any_io_executor executor() { return socket_.get_executor(); }

  // The client's address as the connection was accepted (unspecified when
  // the system could not say).
  const asio::ip::address& remote_address() const { return remote_address_; }

 private:
  // Reads at most `size` bytes into `buffer`, within the idle time-out.
  asio::awaitable<std::size_t> ReadWithTimeout(char* buffer, std::size_t size);
  // Waits, within the idle time-out, until the socket can read or write.
  asio::awaitable<void> WaitUntilReady(asio::socket_base::wait_type what);
  void ArmIdleTimer();

  asio::ip::tcp::socket socket_;
  asio::ip::address remote_address_;
  asio::any_io_executor blocking_executor_;
  std::chrono::milliseconds idle_timeout_;
  // One timer serves every wait: it is armed by the first wait that needs it
  // and, when it fires early, armed again for the current wait's deadline,
  // rather than set and cancelled for each wait.
  asio::steady_timer idle_timer_;
  std::chrono::steady_clock::time_point idle_deadline_;
  bool waiting_ = false;
  bool timer_armed_ = false;
  bool aborted_ = false;
  bool reply_started_ = false;
  std::string pending_;  // bytes received after the request line's LF
};

}  // namespace sqv64
