// The server's TCP listener: every IPv4 address and, where the host has
// IPv6, every IPv6 address of one port (listen backlog 15), one coroutine
// per accepted connection, handed to the network threads in turn.
// Connections wait on the network without holding a thread, so thousands of
// idle clients cost only memory; blocking file work runs on a separate pool
// of threads (Connection::Blocking).
//
// Thread safety: Start and Stop are called from one thread (the service
// thread); the handler runs on the network threads, one coroutine per
// connection.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "protocol/connection.h"

namespace sqv64 {

struct TcpServerOptions {
  // A client that sends nothing for this long while the server waits for its
  // request line or payload is disconnected without anything being done.
  std::chrono::milliseconds idle_timeout{std::chrono::seconds(120)};
  unsigned network_threads = 2;
  unsigned blocking_threads = 8;
};

class TcpServer {
 public:
  // Serves one connection; the server closes it when the coroutine ends.
  using Handler = std::function<asio::awaitable<void>(Connection&)>;

  TcpServer(TcpServerOptions options, Handler handler);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Starts listening on `port` (0 picks a free one). Throws
  // asio::system_error when the port cannot be opened.
  void Start(std::uint16_t port);
  // Stops listening, ends every open connection and waits until their
  // handlers have returned. Safe to call more than once.
  void Stop();

  // The port listened on, once started.
  std::uint16_t port() const { return port_; }

 private:
  // Opens a listening socket on `network`; false when it could not share
  // the port with the others (then it is not opened).
  bool Listen(asio::io_context& network, const asio::ip::tcp::endpoint& endpoint, bool shared);
  // Accepts onto the acceptor's own network thread, or onto each in turn.
  asio::awaitable<void> Accept(asio::ip::tcp::acceptor& acceptor, bool spread);
  // Gives an accepted socket its connection and starts serving it.
  void Admit(asio::ip::tcp::socket socket);
  asio::awaitable<void> Serve(std::shared_ptr<Connection> connection);

  // The network thread that serves the next accepted connection.
  asio::io_context& NextNetwork();

  TcpServerOptions options_;
  Handler handler_;
  // One event loop per network thread, each serving its connections alone,
  // so that a connection's work never crosses threads or needs a strand.
  // Where the system can spread connections over several listening sockets
  // of one port, each loop accepts its own; otherwise the first accepts and
  // hands connections to the loops in turn.
  std::vector<std::unique_ptr<asio::io_context>> networks_;
  std::size_t next_network_ = 0;  // used by the accepting loop only
  asio::thread_pool blocking_;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> keep_running_;
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> acceptors_;
  std::vector<std::thread> threads_;
  std::uint16_t port_ = 0;

  std::mutex mutex_;
  std::condition_variable all_closed_;
  std::set<std::shared_ptr<Connection>> connections_;
  bool stopping_ = false;
  bool started_ = false;
};

}  // namespace sqv64
