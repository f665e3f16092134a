#include "metar/ftp_login.h"

#include <optional>

namespace sqv64 {
namespace {

bool LoggedIn(const FtpReply& reply) {
  return reply.code == 230 || reply.code == 202;
}

[[noreturn]] void Refused(const FtpReply& reply) {
  throw FtpError("login refused: " + reply.Text());
}

// USER, then PASS when the server asks for a password, then ACCT when it
// asks for an account and there is one to give.
void UserAndPassword(FtpCommandChannel& channel, const std::string& user,
                     const std::string& password,
                     const std::optional<std::string>& account = std::nullopt) {
  FtpReply reply = channel.Command("USER " + user);
  if (reply.code == 331)
    reply = channel.Command("PASS " + password);
  if (reply.code == 332 && account)
    reply = channel.Command("ACCT " + *account);
  if (!LoggedIn(reply))
    Refused(reply);
}

// A proxy command that names the server (SITE, OPEN).
void ProxyCommand(FtpCommandChannel& channel, const std::string& line) {
  FtpReply reply = channel.Command(line);
  if (!reply.IsCompletion() && !reply.IsIntermediate())
    Refused(reply);
}

}  // namespace

void FtpLogin(FtpCommandChannel& channel, const FtpSessionSettings& session) {
  const FtpProxySettings& proxy = session.proxy;
  const std::string& user = session.user;
  const std::string& password = session.password;
  std::string host = session.host;
  if (session.port != 21)
    host += ":" + std::to_string(session.port);
  bool proxy_user = !proxy.user.empty();

  switch (proxy.method) {
    case FtpProxyMethod::kNone:
      UserAndPassword(channel, user, password);
      return;
    case FtpProxyMethod::kUserSite:
      if (proxy_user)
        UserAndPassword(channel, proxy.user, proxy.password);
      UserAndPassword(channel, user + "@" + host, password);
      return;
    case FtpProxyMethod::kSite:
      if (proxy_user)
        UserAndPassword(channel, proxy.user, proxy.password);
      ProxyCommand(channel, "SITE " + host);
      UserAndPassword(channel, user, password);
      return;
    case FtpProxyMethod::kOpen:
      if (proxy_user)
        UserAndPassword(channel, proxy.user, proxy.password);
      ProxyCommand(channel, "OPEN " + host);
      UserAndPassword(channel, user, password);
      return;
    case FtpProxyMethod::kUserPass:
      UserAndPassword(channel, user + "@" + proxy.user + "@" + host,
                      proxy.password.empty() ? password : password + "@" + proxy.password);
      return;
    case FtpProxyMethod::kTransparent:
      if (proxy_user)
        UserAndPassword(channel, proxy.user, proxy.password);
      UserAndPassword(channel, user, password);
      return;
    case FtpProxyMethod::kUserHostFirewallId:
      UserAndPassword(channel, user + "@" + host + " " + proxy.user, password, proxy.password);
      return;
    case FtpProxyMethod::kNovellBorder:
      UserAndPassword(channel, proxy.user + "$" + user + "$" + host, proxy.user + "$" + password);
      return;
    case FtpProxyMethod::kHttpProxyWithFtp:
      throw FtpError("login through an HTTP proxy is not supported");
    case FtpProxyMethod::kCustomProxy:
      throw FtpError("no custom proxy login is installed");
  }
  throw FtpError("unknown proxy method");
}

}  // namespace sqv64
