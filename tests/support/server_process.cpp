#include "support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "protocol_client.h"

extern char** environ;

namespace sqv64::testing_support {
namespace {

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (!extra.contains(text.substr(0, text.find('='))))
      entries.push_back(text);
  }
  for (const auto& [name, value] : extra)
    entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(const std::string& executable, std::vector<std::string> arguments,
            const std::map<std::string, std::string>& extra, const std::filesystem::path& output) {
  arguments.insert(arguments.begin(), executable);
  std::vector<std::string> environment = Environment(extra);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0)
    throw std::runtime_error("cannot start " SQV64_SERVER_EXECUTABLE);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

std::uint16_t FreePort() {
  asio::io_context io;
  asio::ip::tcp::acceptor probe(io, {asio::ip::tcp::v4(), 0});
  return probe.local_endpoint().port();
}

ProcessResult RunExecutable(const std::string& executable,
                            const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment) {
  std::filesystem::path output =
      std::filesystem::temp_directory_path() /
      ("sqv64-output-" + std::to_string(getpid()) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  ProcessResult result;
  result.exit_status = Wait(Spawn(executable, arguments, environment, output));
  result.output = ReadAll(output);
  std::filesystem::remove(output);
  return result;
}

ProcessResult RunServerExecutable(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment) {
  return RunExecutable(SQV64_SERVER_EXECUTABLE, arguments, environment);
}

ServerProcess::ServerProcess(const std::filesystem::path& folder,
                             std::map<std::string, std::string> environment)
    : folder_(folder), output_path_(folder / ".server-output") {
  port_ = FreePort();
  std::ofstream(folder / "port.txt") << port_ << "\r\n";
  environment.emplace("SQV64_IMAGE_PATH", (folder / "sqv64").string());
  pid_ = Spawn(SQV64_SERVER_EXECUTABLE, {}, environment, output_path_);
  ProtocolClient client("127.0.0.1", port_, std::chrono::seconds(2));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (client.Run("test", "GetOK").bytes != "OK") {
    if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, nullptr, WNOHANG) != 0) {
      throw std::runtime_error("the server did not start: " + Output());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ServerProcess::~ServerProcess() {
  Stop();
}

int ServerProcess::Stop() {
  if (pid_ < 0)
    return -1;
  kill(pid_, SIGTERM);
  int status = Wait(pid_);
  pid_ = -1;
  return status;
}

void ServerProcess::Kill() {
  if (pid_ < 0)
    return;
  kill(pid_, SIGKILL);
  Wait(pid_);
  pid_ = -1;
}

std::string ServerProcess::Output() const {
  return ReadAll(output_path_);
}

}  // namespace sqv64::testing_support
