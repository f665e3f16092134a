#include "support/server_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio.hpp>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "protocol_client.h"

extern char** environ;

namespace sqv64::testing_support {
namespace {

constexpr const char* kImagePathVariable = "SQV64_IMAGE_PATH";

// This process's environment with `extra` added (replacing variables of the
// same name) and the variables named in `removed` left out.
std::vector<std::string> Environment(const std::map<std::string, std::string>& extra,
                                     const std::set<std::string>& removed) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    if (!extra.contains(name) && !removed.contains(name))
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
            const std::map<std::string, std::string>& extra, const std::filesystem::path& output,
            const std::set<std::string>& removed = {}) {
  arguments.insert(arguments.begin(), executable);
  std::vector<std::string> environment = Environment(extra, removed);
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
    throw std::runtime_error("cannot start " + executable);
  return pid;
}

int ExitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The exit status once `pid` ended within `limit`; nullopt when it is still
// running then.
std::optional<int> WaitFor(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid)
      return ExitStatus(status);
    if (ended < 0 && errno != EINTR)
      return -1;
    if (std::chrono::steady_clock::now() > deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Waits up to `limit` for `pid`; kills it when it is still running then.
// The exit status, or nullopt when it had to be killed.
std::optional<int> WaitOrKill(pid_t pid, std::chrono::milliseconds limit) {
  if (std::optional<int> status = WaitFor(pid, limit))
    return status;
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return std::nullopt;
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

std::filesystem::path ServerExecutable() {
  return SQV64_SERVER_EXECUTABLE;
}

ProcessResult RunExecutable(const std::string& executable,
                            const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment,
                            std::chrono::seconds limit) {
  std::filesystem::path output =
      std::filesystem::temp_directory_path() /
      ("sqv64-output-" + std::to_string(getpid()) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  ProcessResult result;
  std::optional<int> status = WaitOrKill(Spawn(executable, arguments, environment, output), limit);
  result.output = ReadAll(output);
  std::filesystem::remove(output);
  if (!status) {
    ADD_FAILURE() << executable << " did not end within " << limit.count()
                  << " s and was killed; its output:\n"
                  << result.output;
  }
  result.exit_status = status.value_or(-1);
  return result;
}

ProcessResult RunServerExecutable(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment) {
  return RunExecutable(SQV64_SERVER_EXECUTABLE, arguments, environment);
}

ServerProcess::ServerProcess(const std::filesystem::path& folder,
                             std::map<std::string, std::string> environment, Start start)
    : folder_(folder), output_path_(folder / ".server-output") {
  port_ = FreePort();
  std::ofstream(folder / "port.txt") << port_ << "\r\n";
  if (start == Start::kImagePath) {
    environment.emplace(kImagePathVariable, (folder / "sqv64").string());
    pid_ = Spawn(SQV64_SERVER_EXECUTABLE, {}, environment, output_path_);
  } else {
    std::filesystem::path copy = folder / "sqv64";
    std::filesystem::copy_file(SQV64_SERVER_EXECUTABLE, copy);
    pid_ = Spawn(copy.string(), {}, environment, output_path_, {kImagePathVariable});
  }
  ProtocolClient client("127.0.0.1", port_, std::chrono::seconds(2));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (client.Run("test", "GetOK").bytes != "OK") {
    if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, nullptr, WNOHANG) != 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      throw std::runtime_error("the server did not start: " + Output());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ServerProcess::~ServerProcess() {
  Stop();
}

int ServerProcess::Stop(int signal, std::chrono::seconds limit) {
  if (pid_ < 0)
    return -1;
  kill(pid_, signal);
  std::optional<int> status = WaitOrKill(pid_, limit);
  pid_ = -1;
  if (!status) {
    ADD_FAILURE() << "the server did not stop within " << limit.count() << " s of signal " << signal
                  << " and was killed; its output:\n"
                  << Output();
  }
  return status.value_or(-1);
}

void ServerProcess::Kill() {
  if (pid_ < 0)
    return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

std::string ServerProcess::Output() const {
  return ReadAll(output_path_);
}

}  // namespace sqv64::testing_support
