// The login dialogues of an FTP session, one per proxy method, spoken over
// an already opened control connection whose greeting has been read.
//
// With u and p the session's user and password, pu and pp the proxy's, and
// host the server's host name (with ":port" when the port is not 21):
//   none            USER u, PASS p
//   user-site       [USER pu, PASS pp], USER u@host, PASS p
//   site            [USER pu, PASS pp], SITE host, USER u, PASS p
//   open            [USER pu, PASS pp], OPEN host, USER u, PASS p
//   user-pass       USER u@pu@host, PASS p (or p@pp when pp is set)
//   transparent     [USER pu, PASS pp], USER u, PASS p
//   user-host-id    USER u@host pu, PASS p, ACCT pp when asked for (332)
//   Novell border   USER pu$u$host, PASS pu$p
//   HTTP, custom    no dialogue: the login fails
// where the bracketed part is spoken only when pu is set, and every PASS
// only when the server asks for a password (331).
#pragma once

#include <string>

#include "metar/ftp_reply.h"
#include "metar/ftp_settings.h"

namespace sqv64 {

// Sends one command line and returns the server's reply.
class FtpCommandChannel {
 public:
  virtual ~FtpCommandChannel() = default;
  virtual FtpReply Command(const std::string& line) = 0;
};

// Runs the dialogue of `session.proxy.method`; throws FtpError when the
// server refuses it, and always for the HTTP and custom methods.
void FtpLogin(FtpCommandChannel& channel, const FtpSessionSettings& session);

}  // namespace sqv64
