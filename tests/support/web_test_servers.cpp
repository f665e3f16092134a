#include "support/web_test_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace sqv64::testing_support {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kPython = "/usr/bin/python3";

// Starts `arguments` with standard output and error going to `output`.
pid_t Spawn(std::vector<std::string> arguments, const fs::path& output) {
  std::vector<char*> argv;
  for (auto& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0)
    throw std::runtime_error("cannot start " + arguments[0]);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Run(const std::vector<std::string>& arguments, const fs::path& output) {
  if (Wait(Spawn(arguments, output)) != 0)
    throw std::runtime_error(arguments[0] + " " + arguments[1] + " failed; see " + output.string());
}

void End(pid_t& pid) {
  if (pid < 0)
    return;
  kill(pid, SIGTERM);
  Wait(pid);
  pid = -1;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> LinesOf(const fs::path& path) {
  std::istringstream in(ReadAll(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::uint16_t UnusedLoopbackPort() {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(probe);
    throw std::runtime_error("no free port");
  }
  close(probe);
  return ntohs(address.sin_port);
}

bool Accepts(std::uint16_t port) {
  int connection = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool accepted = connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(connection);
  return accepted;
}

template <typename Condition>
bool WithinSeconds(int seconds, Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

bool WebTestServersAvailable() {
  return fs::exists(kNginx) && fs::exists(kOpenssl) && fs::exists(kPython);
}

TestCertificates::TestCertificates() {
  fs::path dir = folder_.path();
  fs::path output = dir / "openssl.log";
  auto at = [&](const char* name) { return (dir / name).string(); };
  folder_.Write("server.ext",
                "basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\n"
                "extendedKeyUsage=serverAuth\n");
  for (std::string authority : {"ca", "stranger-ca"}) {
    Run({kOpenssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=SQV64 test " + authority, "-keyout", at("") + authority + ".key", "-out",
         at("") + authority + ".pem"},
        output);
  }
  for (auto [name, authority] : {std::pair{"server", "ca"}, std::pair{"stranger", "stranger-ca"}}) {
    std::string base = at(name);
    Run({kOpenssl, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
         base + ".key", "-out", base + ".csr"},
        output);
    Run({kOpenssl, "x509", "-req", "-in", base + ".csr", "-CA", at(authority) + ".pem", "-CAkey",
         at(authority) + ".key", "-CAcreateserial", "-days", "2", "-extfile", at("server.ext"),
         "-out", base + ".pem"},
        output);
  }
}

NginxTestServer::NginxTestServer(Options options) : tls_(!options.certificate.empty()) {
  fs::path dir = prefix_.path();
  fs::create_directories(dir / "temporary");
  port_ = UnusedLoopbackPort();
  std::string port = std::to_string(port_);
  std::string listen = "listen 127.0.0.1:" + port + (tls_ ? " ssl;\n" : ";\n");
  if (tls_) {
    listen += "    ssl_certificate " + options.certificate.string() + ";\n";
    listen += "    ssl_certificate_key " + options.key.string() + ";\n";
  }
  std::string extra = options.extra_configuration;
  ReplaceAll(extra, "@PORT@", port);
  std::string temporary = (dir / "temporary").string();
  std::string configuration =
      "daemon off;\n"
      "master_process off;\n"
      "worker_processes 1;\n"
      "pid " +
      (dir / "nginx.pid").string() +
      ";\n"
      "error_log " +
      (dir / "error.log").string() +
      " info;\n"
      "events { worker_connections 64; }\n"
      "http {\n"
      "  log_format requests '$request_method $request_uri $status "
      "\"$http_if_modified_since\" \"$http_if_none_match\"';\n"
      "  access_log " +
      (dir / "access.log").string() +
      " requests;\n"
      "  client_body_temp_path " +
      temporary +
      ";\n"
      "  proxy_temp_path " +
      temporary +
      ";\n"
      "  fastcgi_temp_path " +
      temporary +
      ";\n"
      "  uwsgi_temp_path " +
      temporary +
      ";\n"
      "  scgi_temp_path " +
      temporary +
      ";\n"
      "  types { text/plain TXT txt; }\n"
      "  server {\n"
      "    " +
      listen + "    root " + options.root.string() + ";\n" + extra +
      "  }\n"
      "}\n";
  prefix_.Write("nginx.conf", configuration);
  pid_ = Spawn({kNginx, "-p", dir.string() + "/", "-c", (dir / "nginx.conf").string(), "-e",
                (dir / "error.log").string()},
               dir / "output.log");
  if (!WithinSeconds(15, [&] { return Accepts(port_) || waitpid(pid_, nullptr, WNOHANG) != 0; }) ||
      !Accepts(port_)) {
    std::string log = ReadAll(dir / "error.log") + ReadAll(dir / "output.log");
    End(pid_);
    throw std::runtime_error("nginx did not start: " + log);
  }
}

NginxTestServer::~NginxTestServer() {
  End(pid_);
}

std::string NginxTestServer::origin() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> NginxTestServer::AccessLog() const {
  std::vector<std::string> lines = LinesOf(prefix_.path() / "access.log");
  for (std::string& line : lines)
    ReplaceAll(line, "\"\"", "-");
  return lines;
}

std::string NginxTestServer::ErrorLog() const {
  return ReadAll(prefix_.path() / "error.log");
}

ConnectTestProxy::ConnectTestProxy(const std::string& user, const std::string& password) {
  fs::path port_file = control_.path() / "port";
  pid_ = Spawn({kPython, SQV64_CONNECT_TEST_PROXY, port_file.string(),
                (control_.path() / "requests.log").string(), user, password},
               control_.path() / "output.log");
  if (!WithinSeconds(15, [&] { return fs::exists(port_file); })) {
    End(pid_);
    throw std::runtime_error("the proxy did not start: " + ReadAll(control_.path() / "output.log"));
  }
  port_ = static_cast<std::uint16_t>(std::stoi(control_.Read("port")));
}

ConnectTestProxy::~ConnectTestProxy() {
  End(pid_);
}

std::vector<std::string> ConnectTestProxy::Log() const {
  return LinesOf(control_.path() / "requests.log");
}

}  // namespace sqv64::testing_support
