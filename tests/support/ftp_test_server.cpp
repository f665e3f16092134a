#include "support/ftp_test_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>

namespace sqv64::testing_support {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

}  // namespace

bool FtpTestServer::Available() {
  return SQV64_FTP_TEST_SERVER_CAN_RUN && fs::exists(kPython) &&
         std::system((std::string(kPython) + " -c \"import pyftpdlib\" 2>/dev/null").c_str()) == 0;
}

bool FtpTestServer::Required() {
  const char* ci = std::getenv("CI");
  const char* required = std::getenv("SQV64_REQUIRE_TEST_DEPENDENCIES");
  return SQV64_FTP_TEST_SERVER_CAN_RUN && ((ci != nullptr && std::string(ci) == "true") ||
                                           (required != nullptr && std::string(required) == "1"));
}

std::vector<std::string> FtpTestServer::Events() const {
  std::vector<std::string> events;
  std::istringstream in(control_.Read("events"));
  for (std::string line; std::getline(in, line);)
    events.push_back(line);
  return events;
}

int FtpTestServer::ClosedSessions() const {
  std::vector<std::string> events = Events();
  return static_cast<int>(std::count(events.begin(), events.end(), "closed"));
}

FtpTestServer::FtpTestServer(const fs::path& root, std::uint16_t port) {
  fs::path port_file = control_.path() / "port";
  std::string command = std::string(kPython) + " \"" + SQV64_FTP_TEST_SERVER + "\" \"" +
                        root.string() + "\" \"" + port_file.string() + "\" \"" +
                        (control_.path() / "stop").string() + "\" \"" +
                        (control_.path() / "events").string() + "\" " + std::to_string(port);
  runner_ = std::thread([command] { std::system(command.c_str()); });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!fs::exists(port_file) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (fs::exists(port_file))
    port_ = static_cast<std::uint16_t>(std::stoi(control_.Read("port")));
}

FtpTestServer::~FtpTestServer() {
  control_.Write("stop", "");
  runner_.join();
}

}  // namespace sqv64::testing_support
