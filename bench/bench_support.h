// What the client-side benchmarks share: starting and stopping helper
// processes (nginx, the floor programs), blocking loopback clients, and
// medians of rounds. Linux only, like the benchmarks.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace sqv64::bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

inline double Median(std::vector<double> values) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Percentile(std::vector<double> values, double fraction) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

// The peak resident memory of a process so far, in KiB.
inline long PeakResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return -1;
}

// A process started with `arguments` (the first is the executable), its
// output into `output`; stopped with SIGTERM when it goes.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> arguments, const std::filesystem::path& output) {
    std::vector<char*> argv;
    for (auto& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
      throw std::runtime_error("cannot start " + arguments[0]);
  }
  ~ChildProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t pid() const { return pid_; }
  bool Running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

// A connected loopback socket, or -1.
inline int Connect(std::uint16_t port) {
  int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket);
    return -1;
  }
  return socket;
}

inline void WaitUntilListening(std::uint16_t port, const ChildProcess& process, const char* what) {
  auto deadline = Clock::now() + std::chrono::seconds(20);
  for (;;) {
    int socket = Connect(port);
    if (socket >= 0) {
      ::close(socket);
      return;
    }
    if (Clock::now() > deadline || !process.Running())
      throw std::runtime_error(std::string(what) + " did not start listening");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// One exchange: sends `request`, then `payload_bytes` of `block` repeated,
// closes the sending side, and reads to the server's close with a buffer of
// `buffer_size` bytes. The bytes received, or -1 on failure.
inline long long Exchange(std::uint16_t port, std::string_view request,
                          std::size_t buffer_size = 1 << 20, std::uint64_t payload_bytes = 0,
                          std::string_view block = {}) {
  int socket = Connect(port);
  if (socket < 0)
    return -1;
  auto send_all = [&](const char* data, std::size_t size) {
    while (size > 0) {
      ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
      if (sent <= 0)
        return false;
      data += sent;
      size -= static_cast<std::size_t>(sent);
    }
    return true;
  };
  bool ok = send_all(request.data(), request.size());
  for (std::uint64_t sent = 0; ok && sent < payload_bytes;) {
    std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), payload_bytes - sent));
    ok = send_all(block.data(), size);
    sent += size;
  }
  if (payload_bytes > 0)
    ::shutdown(socket, SHUT_WR);
  static thread_local std::vector<char> buffer;
  buffer.resize(buffer_size);
  long long received = 0;
  while (ok) {
    ssize_t got = ::recv(socket, buffer.data(), buffer.size(), 0);
    if (got < 0)
      ok = false;
    if (got <= 0)
      break;
    received += got;
  }
  ::close(socket);
  return ok ? received : -1;
}

// nginx started on a free loopback port with a temporary prefix and a
// configuration of its own, serving `root`: sendfile on, two workers,
// access log on. Absent when the machine has no nginx.
class Nginx {
 public:
  static constexpr const char* kExecutable = "/usr/sbin/nginx";
  static bool Installed() { return ::access(kExecutable, X_OK) == 0; }

  Nginx(const std::filesystem::path& prefix, const std::filesystem::path& root, std::uint16_t port)
      : port_(port) {
    std::filesystem::create_directories(prefix / "logs");
    std::ofstream config(prefix / "nginx.conf");
    config << "daemon off;\nmaster_process on;\nworker_processes 2;\n"
           << (geteuid() == 0 ? "user root;\n" : "") << "error_log "
           << (prefix / "logs/error.log").string() << ";\npid " << (prefix / "nginx.pid").string()
           << ";\n"
           << "events { worker_connections 4096; }\n"
           << "http {\n  access_log " << (prefix / "logs/access.log").string() << ";\n"
           << "  client_body_temp_path " << (prefix / "body").string() << ";\n"
           << "  proxy_temp_path " << (prefix / "proxy").string() << ";\n"
           << "  fastcgi_temp_path " << (prefix / "fastcgi").string() << ";\n"
           << "  uwsgi_temp_path " << (prefix / "uwsgi").string() << ";\n"
           << "  scgi_temp_path " << (prefix / "scgi").string() << ";\n"
           << "  sendfile on;\n  tcp_nopush on;\n  keepalive_timeout 0;\n"
           << "  default_type application/octet-stream;\n"
           << "  server {\n    listen 127.0.0.1:" << port << " backlog=511;\n    root "
           << root.string() << ";\n  }\n}\n";
    config.close();
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kExecutable, "-p", prefix.string(), "-c",
                                 (prefix / "nginx.conf").string(), "-e",
                                 (prefix / "logs/error.log").string()},
        prefix / "output");
    WaitUntilListening(port, *process_, "nginx");
  }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_;
  std::unique_ptr<ChildProcess> process_;
};

// Runs each contender once per round, in an order that rotates from round
// to round, so that none always runs first or last.
inline void RotatingRounds(std::size_t rounds,
                           const std::vector<std::function<void()>>& contenders) {
  for (std::size_t round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < contenders.size(); ++i)
      contenders[(round + i) % contenders.size()]();
  }
}

}  // namespace sqv64::bench
