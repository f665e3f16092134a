// Real web servers for the HTTP weather tests, all on 127.0.0.1 and all
// ended with the objects that started them:
// - TestCertificates: a test CA and a server certificate it signed for
//   127.0.0.1 (subjectAltName IP:127.0.0.1), and a second, unrelated CA
//   with a server certificate of its own, all made by openssl;
// - NginxTestServer: Debian's nginx in the foreground, serving a folder over
//   HTTPS or plain HTTP, with temporary prefix, configuration, pid and logs;
//   its access log shows each request's status and validators;
// - ConnectTestProxy: a CONNECT proxy (Python standard library) that asks
//   for Basic authentication and logs every request.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temporary_folder.h"

namespace sqv64::testing_support {

// Whether /usr/sbin/nginx, /usr/bin/openssl and /usr/bin/python3 are there
// (scripts/install-deps.sh installs them).
bool WebTestServersAvailable();

class TestCertificates {
 public:
  // Throws when openssl fails.
  TestCertificates();

  // PEM files.
  std::filesystem::path ca() const { return folder_.path() / "ca.pem"; }
  std::filesystem::path server_certificate() const { return folder_.path() / "server.pem"; }
  std::filesystem::path server_key() const { return folder_.path() / "server.key"; }
  std::filesystem::path stranger_certificate() const { return folder_.path() / "stranger.pem"; }
  std::filesystem::path stranger_key() const { return folder_.path() / "stranger.key"; }

 private:
  TemporaryFolder folder_;
};

class NginxTestServer {
 public:
  struct Options {
    std::filesystem::path root;
    // Both empty: plain HTTP.
    std::filesystem::path certificate;
    std::filesystem::path key;
    // Added inside the server block ("location ... { ... }"); "@PORT@"
    // stands for the port.
    std::string extra_configuration;
  };

  // Starts nginx and waits until it accepts connections; throws when it
  // does not within 15 s.
  explicit NginxTestServer(Options options);
  ~NginxTestServer();
  NginxTestServer(const NginxTestServer&) = delete;
  NginxTestServer& operator=(const NginxTestServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "https://127.0.0.1:PORT" or "http://127.0.0.1:PORT".
  std::string origin() const;
  // One line per request so far: "<method> <uri> <status> <If-Modified-Since>
  // <If-None-Match>", "-" for a header not sent.
  std::vector<std::string> AccessLog() const;
  // The error log, written at level "info" (failed TLS handshakes show).
  std::string ErrorLog() const;

 private:
  TemporaryFolder prefix_;
  bool tls_ = false;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

class ConnectTestProxy {
 public:
  // Throws when it does not listen within 15 s.
  ConnectTestProxy(const std::string& user, const std::string& password);
  ~ConnectTestProxy();
  ConnectTestProxy(const ConnectTestProxy&) = delete;
  ConnectTestProxy& operator=(const ConnectTestProxy&) = delete;

  std::uint16_t port() const { return port_; }
  // "CONNECT 127.0.0.1:PORT <status>" per request so far.
  std::vector<std::string> Log() const;

 private:
  TemporaryFolder control_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace sqv64::testing_support
