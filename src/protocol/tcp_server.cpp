#include "protocol/tcp_server.h"

#include <cstdint>

#include "platform/platform.h"

namespace sqv64 {
namespace {

constexpr int kListenBacklog = 15;

}  // namespace

TcpServer::TcpServer(TcpServerOptions options, Handler handler)
    : options_(options),
      handler_(std::move(handler)),
      blocking_(options.blocking_threads),
      keep_running_(asio::make_work_guard(network_)) {}

TcpServer::~TcpServer() {
  Stop();
}

void TcpServer::Listen(asio::ip::tcp::acceptor& acceptor, const asio::ip::tcp::endpoint& endpoint) {
  // A port that another process holds must fail the start, on every system.
  if (!platform::PrepareListeningSocket(static_cast<std::uintptr_t>(acceptor.native_handle()))) {
    throw asio::system_error(asio::error::invalid_argument, "listening socket options");
  }
  acceptor.bind(endpoint);
  acceptor.listen(kListenBacklog);
}

void TcpServer::Start(std::uint16_t port) {
  using asio::ip::tcp;
  auto ipv4 = std::make_unique<tcp::acceptor>(network_);
  ipv4->open(tcp::v4());
  Listen(*ipv4, tcp::endpoint(tcp::v4(), port));
  port_ = ipv4->local_endpoint().port();
  acceptors_.push_back(std::move(ipv4));

  // A host without IPv6 cannot open the socket; one with it listens on the
  // same port for IPv6 only, beside the IPv4 socket.
  auto ipv6 = std::make_unique<tcp::acceptor>(network_);
  asio::error_code no_ipv6;
  ipv6->open(tcp::v6(), no_ipv6);
  if (!no_ipv6) {
    ipv6->set_option(asio::ip::v6_only(true));
    Listen(*ipv6, tcp::endpoint(tcp::v6(), port_));
    acceptors_.push_back(std::move(ipv6));
  }

  for (auto& acceptor : acceptors_) {
    asio::co_spawn(network_, Accept(*acceptor), asio::detached);
  }
  started_ = true;
  for (unsigned i = 0; i < std::max(1u, options_.network_threads); ++i) {
    threads_.emplace_back([this] { network_.run(); });
  }
}

asio::awaitable<void> TcpServer::Accept(asio::ip::tcp::acceptor& acceptor) {
  // The listen queue is short, so every wake-up takes all the connections
  // that are waiting before it waits again.
  acceptor.non_blocking(true);
  for (;;) {
    asio::error_code error;
    asio::ip::tcp::socket socket = co_await acceptor.async_accept(
        asio::make_strand(network_), asio::redirect_error(asio::use_awaitable, error));
    while (!error) {
      Admit(std::move(socket));
      socket = acceptor.accept(asio::make_strand(network_), error);
    }
    if (error == asio::error::would_block || error == asio::error::try_again) {
      continue;
    }
    if (error == asio::error::operation_aborted || !acceptor.is_open()) {
      co_return;
    }
    // Out of descriptors or a connection that died while queued: the next
    // accept may succeed; give the system a moment when it is starved.
    if (error == asio::error::no_descriptors || error == asio::error::no_buffer_space) {
      asio::steady_timer pause(co_await asio::this_coro::executor, std::chrono::milliseconds(50));
      co_await pause.async_wait(asio::use_awaitable);
    }
  }
}

void TcpServer::Admit(asio::ip::tcp::socket socket) {
  auto connection = std::make_shared<Connection>(std::move(socket), blocking_.get_executor(),
                                                 options_.idle_timeout);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      connection->Close();
      return;
    }
    connections_.insert(connection);
  }
  asio::co_spawn(connection->executor(), Serve(connection), asio::detached);
}

asio::awaitable<void> TcpServer::Serve(std::shared_ptr<Connection> connection) {
  try {
    co_await handler_(*connection);
  } catch (...) {
    // A command that fails is abandoned: the client gets no reply.
  }
  connection->Close();
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(connection);
  if (connections_.empty()) {
    all_closed_.notify_all();
  }
}

void TcpServer::Stop() {
  if (!started_) {
    return;
  }
  started_ = false;
  asio::post(network_, [this] {
    for (auto& acceptor : acceptors_) {
      asio::error_code ignored;
      acceptor->close(ignored);
    }
  });
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& connection : connections_) {
      asio::post(connection->executor(), [connection] { connection->Abort(); });
    }
    all_closed_.wait(lock, [this] { return connections_.empty(); });
  }
  keep_running_.reset();
  network_.stop();
  for (auto& thread : threads_) {
    thread.join();
  }
  threads_.clear();
  blocking_.join();
  acceptors_.clear();
}

}  // namespace sqv64
