#include "protocol/tcp_server.h"

#include "platform/platform.h"
#include "platform/socket_options.h"

namespace sqv64 {
namespace {

constexpr int kListenBacklog = 15;

}  // namespace

TcpServer::TcpServer(TcpServerOptions options, Handler handler)
    : options_(options), handler_(std::move(handler)), blocking_(options.blocking_threads) {
  for (unsigned i = 0; i < std::max(1u, options_.network_threads); ++i) {
    // Each loop is run by one thread.
    networks_.push_back(std::make_unique<asio::io_context>(1));
    keep_running_.push_back(asio::make_work_guard(*networks_.back()));
  }
}

asio::io_context& TcpServer::NextNetwork() {
  asio::io_context& network = *networks_[next_network_];
  next_network_ = (next_network_ + 1) % networks_.size();
  return network;
}

TcpServer::~TcpServer() {
  Stop();
}

bool TcpServer::Listen(asio::io_context& network, const asio::ip::tcp::endpoint& endpoint,
                       bool shared) {
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(network);
  acceptor->open(endpoint.protocol());
  if (shared && !platform::ShareListeningPort(acceptor->native_handle())) {
    return false;
  }
  if (endpoint.address().is_v6()) {
    acceptor->set_option(asio::ip::v6_only(true));
  }
  // A port that another process holds must fail the start, on every system.
  if (!platform::PrepareListeningSocket(static_cast<std::uintptr_t>(acceptor->native_handle()))) {
    throw asio::system_error(asio::error::invalid_argument, "listening socket options");
  }
  acceptor->bind(endpoint);
  acceptor->listen(kListenBacklog);
  acceptors_.push_back(std::move(acceptor));
  return true;
}

void TcpServer::Start(std::uint16_t port) {
  using asio::ip::tcp;
  {
    // A port already taken fails here, even by a process that would share
    // it: the sockets below share the port only among themselves.
    tcp::acceptor probe(*networks_.front());
    probe.open(tcp::v4());
    if (!platform::PrepareListeningSocket(static_cast<std::uintptr_t>(probe.native_handle()))) {
      throw asio::system_error(asio::error::invalid_argument, "listening socket options");
    }
    probe.bind(tcp::endpoint(tcp::v4(), port));
    port_ = probe.local_endpoint().port();
  }
  bool shared =
      networks_.size() > 1 && Listen(*networks_.front(), tcp::endpoint(tcp::v4(), port_), true);
  if (!shared) {
    Listen(*networks_.front(), tcp::endpoint(tcp::v4(), port_), false);
  }
  for (std::size_t i = 1; shared && i < networks_.size(); ++i) {
    Listen(*networks_[i], tcp::endpoint(tcp::v4(), port_), true);
  }

  // A host without IPv6 cannot open the socket; one with it listens on the
  // same port for IPv6 only, beside the IPv4 sockets.
  {
    asio::ip::tcp::socket probe(*networks_.front());
    asio::error_code no_ipv6;
    probe.open(tcp::v6(), no_ipv6);
    if (!no_ipv6) {
      for (std::size_t i = 0; i < (shared ? networks_.size() : 1); ++i) {
        Listen(*networks_[i], tcp::endpoint(tcp::v6(), port_), shared);
      }
    }
  }

  for (auto& acceptor : acceptors_) {
    asio::co_spawn(acceptor->get_executor(), Accept(*acceptor, !shared), asio::detached);
  }
  started_ = true;
  for (auto& network : networks_) {
    threads_.emplace_back([&network = *network] { network.run(); });
  }
}

asio::awaitable<void> TcpServer::Accept(asio::ip::tcp::acceptor& acceptor, bool spread) {
  auto& own = static_cast<asio::io_context&>(acceptor.get_executor().context());
  auto target = [&]() -> asio::io_context& { return spread ? NextNetwork() : own; };
  // The listen queue is short, so every wake-up takes all the connections
  // that are waiting before it waits again.
  acceptor.non_blocking(true);
  for (;;) {
    asio::error_code error;
    asio::ip::tcp::socket socket =
        co_await acceptor.async_accept(target(), asio::redirect_error(asio::use_awaitable, error));
    while (!error) {
      Admit(std::move(socket));
      socket = acceptor.accept(target(), error);
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
    // A command that fails is abandoned: the client gets no reply, and one
    // whose reply was cut (a client that took nothing for the idle time-out,
    // say) sees a reset, never a normal end.
    if (connection->ReplyStarted()) {
      connection->Reset();
    }
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
  for (auto& acceptor : acceptors_) {
    asio::post(acceptor->get_executor(), [&acceptor = *acceptor] {
      asio::error_code ignored;
      acceptor.close(ignored);
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& connection : connections_) {
      asio::post(connection->executor(), [connection] { connection->Abort(); });
    }
    all_closed_.wait(lock, [this] { return connections_.empty(); });
  }
  keep_running_.clear();
  for (auto& network : networks_) {
    network->stop();
  }
  for (auto& thread : threads_) {
    thread.join();
  }
  threads_.clear();
  blocking_.join();
  acceptors_.clear();
}

}  // namespace sqv64
