// What an FTP session is opened with: the server, the credentials, the
// time-outs, the client name offered with CLNT, and the proxy that the
// control connection goes through.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace sqv64 {

// The ten ways of reaching an FTP server through a proxy, by their codes.
enum class FtpProxyMethod {
  kNone = 0,
  kUserSite = 1,
  kSite = 2,
  kOpen = 3,
  kUserPass = 4,
  kTransparent = 5,
  kUserHostFirewallId = 6,
  kNovellBorder = 7,
  kHttpProxyWithFtp = 8,
  kCustomProxy = 9,
};

struct FtpProxySettings {
  std::string host;  // empty: every method connects to the server itself
  std::uint16_t port = 80;
  std::string user;
  std::string password;
  FtpProxyMethod method = FtpProxyMethod::kNone;
};

struct FtpTimeouts {
  // Name resolution and TCP connection, for the control and data connections.
  std::chrono::milliseconds connect{60000};
  // Each reply of the server, the login replies included.
  std::chrono::milliseconds read{60000};
  // A data connection that brings no byte for this long is given up.
  std::chrono::milliseconds transfer{60000};
};

struct FtpSessionSettings {
  std::string host;
  std::uint16_t port = 21;
  std::string user;
  std::string password;
  FtpTimeouts timeouts;
  // Sent as "CLNT <name>" when the server's feature list offers CLNT.
  std::string client_name;
  FtpProxySettings proxy;
};

}  // namespace sqv64
