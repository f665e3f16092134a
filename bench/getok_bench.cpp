// "GetOK" round trips per second against the real server process: one
// request per connection, 50 clients at once.
//
//   getok_bench [--seconds N] [--clients N]
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace {

using asio::ip::tcp;

asio::awaitable<void> Client(tcp::endpoint endpoint, std::chrono::steady_clock::time_point end,
                             long& round_trips, long& failures) {
  auto executor = co_await asio::this_coro::executor;
  while (std::chrono::steady_clock::now() < end) {
    tcp::socket socket(executor);
    asio::error_code error;
    co_await socket.async_connect(endpoint, asio::redirect_error(asio::use_awaitable, error));
    if (!error) {
      co_await asio::async_write(socket, asio::buffer("bench\tGetOK\n", 12),
                                 asio::redirect_error(asio::use_awaitable, error));
    }
    std::string reply;
    char chunk[16];
    while (!error) {
      std::size_t got = co_await socket.async_read_some(
          asio::buffer(chunk), asio::redirect_error(asio::use_awaitable, error));
      reply.append(chunk, got);
    }
    if (error == asio::error::eof && reply == "OK") {
      ++round_trips;
    } else {
      ++failures;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 5;
  int clients = 50;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0)
      seconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--clients") == 0)
      clients = std::atoi(argv[i + 1]);
  }
  sqv64::testing_support::TemporaryFolder folder;
  sqv64::testing_support::ServerProcess server(folder.path());
  tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), server.port());

  asio::io_context io;
  long round_trips = 0;
  long failures = 0;
  auto start = std::chrono::steady_clock::now();
  auto end = start + std::chrono::seconds(seconds);
  for (int i = 0; i < clients; ++i) {
    asio::co_spawn(io, Client(endpoint, end, round_trips, failures), asio::detached);
  }
  io.run();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "GetOK, one request per connection, %d clients: %.0f round trips/s (%ld in %.1f s, %ld "
      "failed)\n",
      clients, round_trips / elapsed, round_trips, elapsed, failures);
  return failures == 0 && round_trips > 0 ? 0 : 1;
}
