// The real server executable started as a process over a test's folder, the
// way an operator starts it: SQV64_IMAGE_PATH names the folder, port.txt a
// free port. The destructor stops it with SIGTERM.
//
// Every wait here has a deadline: a process that does not end in time is
// killed with SIGKILL, and the test fails with the process's output.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sqv64::testing_support {

// A TCP port that nothing on this machine listens on right now.
std::uint16_t FreePort();

// The server executable of this build.
std::filesystem::path ServerExecutable();

struct ProcessResult {
  int exit_status = -1;  // -1 when it did not exit normally
  std::string output;    // standard output and standard error together
};

// Runs `executable` with `arguments` and `environment` (added to this
// process's environment) to its end, or for `limit` at most.
ProcessResult RunExecutable(const std::string& executable,
                            const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment = {},
                            std::chrono::seconds limit = std::chrono::seconds(60));

// The same for the server executable.
ProcessResult RunServerExecutable(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment);

class ServerProcess {
 public:
  // How the server finds its folder: SQV64_IMAGE_PATH naming `folder`, or
  // (kCopiedExecutable) no SQV64_IMAGE_PATH at all and a copy of the
  // executable in `folder`, started from there.
  enum class Start { kImagePath, kCopiedExecutable };

  // Starts the server in `folder` (which ends up holding port.txt and
  // whatever the server writes) and waits until it answers "GetOK". Extra
  // environment variables may be given.
  explicit ServerProcess(const std::filesystem::path& folder,
                         std::map<std::string, std::string> environment = {},
                         Start start = Start::kImagePath);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Sends `signal` and waits up to `limit` for the exit; the exit status,
  // -1 when it did not exit normally. A server still running after `limit`
  // is killed and the test fails.
  int Stop(int signal = SIGTERM, std::chrono::seconds limit = std::chrono::seconds(20));
  // Ends the server at once with SIGKILL, as a crash or a power cut would
  // (but for the disk's cache), and waits until it is gone.
  void Kill();
  // What the server wrote to standard output and standard error so far.
  std::string Output() const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path output_path_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace sqv64::testing_support
