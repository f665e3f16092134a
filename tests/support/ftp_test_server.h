// A real FTP server for the weather tests: Debian's pyftpdlib, started on
// 127.0.0.1 serving a folder read-only to the user "Anonymous", for as long
// as the object lives.
//
// Where pyftpdlib is missing, the tests that need it skip, unless the run
// requires every test dependency (CI=true, or SQV64_REQUIRE_TEST_DEPENDENCIES
// set as ./test.sh does): then they fail. Use it at the top of a test or of
// SetUp:
//
//   SQV64_NEED_FTP_TEST_SERVER();
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/temporary_folder.h"

namespace sqv64::testing_support {

class FtpTestServer {
 public:
  // Whether /usr/bin/python3 has pyftpdlib (scripts/install-deps.sh
  // installs it); never in a Windows build.
  static bool Available();
  // Whether a missing pyftpdlib fails the tests instead of skipping them.
  static bool Required();

  // Serves `root` on `port` (a free one when 0), for a test that stops a
  // server and starts it again where it was; port() is 0 when the server
  // did not start within 15 s.
  explicit FtpTestServer(const std::filesystem::path& root, std::uint16_t port = 0);
  ~FtpTestServer();
  FtpTestServer(const FtpTestServer&) = delete;
  FtpTestServer& operator=(const FtpTestServer&) = delete;

  std::uint16_t port() const { return port_; }

  // What happened so far, oldest first: "sent NAME" for a file sent whole,
  // "closed" for a control connection that ended.
  std::vector<std::string> Events() const;
  // How many control connections have ended.
  int ClosedSessions() const;

 private:
  TemporaryFolder control_;
  std::thread runner_;
  std::uint16_t port_ = 0;
};

}  // namespace sqv64::testing_support

#define SQV64_NEED_FTP_TEST_SERVER()                                   \
  do {                                                                 \
    if (!::sqv64::testing_support::FtpTestServer::Available()) {       \
      if (::sqv64::testing_support::FtpTestServer::Required())         \
        FAIL() << "pyftpdlib is missing: run scripts/install-deps.sh"; \
      GTEST_SKIP() << "pyftpdlib is not installed";                    \
    }                                                                  \
  } while (false)
