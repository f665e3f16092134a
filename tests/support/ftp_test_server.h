// A real FTP server for the weather tests: Debian's pyftpdlib, started on
// 127.0.0.1 serving a folder read-only to the user "Anonymous", for as long
// as the object lives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <thread>

#include "support/temporary_folder.h"

namespace sqv64::testing_support {

class FtpTestServer {
 public:
  // Whether /usr/bin/python3 has pyftpdlib (scripts/install-deps.sh
  // installs it).
  static bool Available();

  // Serves `root` on `port` (a free one when 0), for a test that stops a
  // server and starts it again where it was; port() is 0 when the server
  // did not start within 15 s.
  explicit FtpTestServer(const std::filesystem::path& root, std::uint16_t port = 0);
  ~FtpTestServer();
  FtpTestServer(const FtpTestServer&) = delete;
  FtpTestServer& operator=(const FtpTestServer&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  TemporaryFolder control_;
  std::thread runner_;
  std::uint16_t port_ = 0;
};

}  // namespace sqv64::testing_support
