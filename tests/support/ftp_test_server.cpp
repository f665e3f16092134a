#include "support/ftp_test_server.h"

#include <chrono>
#include <cstdlib>
#include <string>

namespace sqv64::testing_support {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

}  // namespace

bool FtpTestServer::Available() {
  return fs::exists(kPython) &&
         std::system((std::string(kPython) + " -c \"import pyftpdlib\" 2>/dev/null").c_str()) == 0;
}

FtpTestServer::FtpTestServer(const fs::path& root, std::uint16_t port) {
  fs::path port_file = control_.path() / "port";
  std::string command = std::string(kPython) + " \"" + SQV64_FTP_TEST_SERVER + "\" \"" +
                        root.string() + "\" \"" + port_file.string() + "\" \"" +
                        (control_.path() / "stop").string() + "\" " + std::to_string(port);
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
