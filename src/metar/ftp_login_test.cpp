#include "metar/ftp_login.h"

#include <gtest/gtest.h>

#include <map>

#include "metar/ftp_client.h"
#include "metar/testing/scripted_ftp_peer.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

using testing_support::ScriptedFtpPeer;
using testing_support::TestPlatform;
using Commands = std::vector<std::string>;

struct LoginCase {
  std::string name;
  FtpProxyMethod method;
  bool proxy_host;  // whether a proxy host is set
  std::string proxy_user;
  std::string proxy_password;
  std::map<std::string, std::string> replies;  // the reached peer's script
  bool via_proxy;                              // which peer is reached
  // The dialogue; "{host}" stands for the weather server's host name.
  Commands dialogue;
  bool succeeds = true;
};

void PrintTo(const LoginCase& login, std::ostream* out) {
  *out << login.name;
}

class FtpLoginTest : public ::testing::TestWithParam<LoginCase> {
 protected:
  ScriptedFtpPeer server_;
  ScriptedFtpPeer proxy_;
  TestPlatform platform_;
  FtpClient client_{platform_};
};

TEST_P(FtpLoginTest, EachProxyMethodSpeaksItsDialogueToTheRightPeer) {
  const LoginCase& login = GetParam();
  ScriptedFtpPeer& reached = login.via_proxy ? proxy_ : server_;
  ScriptedFtpPeer& other = login.via_proxy ? server_ : proxy_;
  for (const auto& [command, reply] : login.replies)
    reached.SetReply(command, reply);

  FtpSessionSettings session;
  session.user = "alice";
  session.password = "secret";
  session.client_name = "1234";
  session.timeouts = {std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)};
  // Through a proxy, the server's name is only spoken, never resolved.
  session.host = login.via_proxy ? "weather.example" : "127.0.0.1";
  session.port = login.via_proxy ? 21 : server_.port();
  std::string host_text =
      login.via_proxy ? "weather.example" : "127.0.0.1:" + std::to_string(server_.port());
  session.proxy.method = login.method;
  session.proxy.host = login.proxy_host ? "127.0.0.1" : "";
  session.proxy.port = proxy_.port();
  session.proxy.user = login.proxy_user;
  session.proxy.password = login.proxy_password;
  client_.Configure(session);

  Commands expected;
  for (std::string command : login.dialogue) {
    if (auto at = command.find("{host}"); at != std::string::npos)
      command.replace(at, 6, host_text);
    expected.push_back(command);
  }
  if (login.succeeds) {
    client_.Connect();
    EXPECT_TRUE(client_.Connected());
    expected.insert(expected.end(), {"FEAT", "CLNT 1234", "TYPE A"});
  } else {
    EXPECT_THROW(client_.Connect(), FtpError);
    EXPECT_FALSE(client_.Connected());
  }
  EXPECT_EQ(reached.Connections(), 1);
  EXPECT_EQ(other.Connections(), 0);
  EXPECT_EQ(reached.Commands(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    ProxyMethods, FtpLoginTest,
    ::testing::Values(
        LoginCase{"None",
                  FtpProxyMethod::kNone,
                  true,
                  "pu",
                  "pp",
                  {},
                  false,
                  {"USER alice", "PASS secret"}},
        LoginCase{"NoneWithoutPasswordRequest",
                  FtpProxyMethod::kNone,
                  false,
                  "",
                  "",
                  {{"USER", "230 Logged in"}},
                  false,
                  {"USER alice"}},
        LoginCase{"UserSite",
                  FtpProxyMethod::kUserSite,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {"USER pu", "PASS pp", "USER alice@{host}", "PASS secret"}},
        LoginCase{"UserSiteWithoutProxyUser",
                  FtpProxyMethod::kUserSite,
                  true,
                  "",
                  "pp",
                  {},
                  true,
                  {"USER alice@{host}", "PASS secret"}},
        LoginCase{"UserSiteWithoutProxyHost",
                  FtpProxyMethod::kUserSite,
                  false,
                  "",
                  "",
                  {},
                  false,
                  {"USER alice@{host}", "PASS secret"}},
        LoginCase{"Site",
                  FtpProxyMethod::kSite,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {"USER pu", "PASS pp", "SITE {host}", "USER alice", "PASS secret"}},
        // The proxy's own password goes with the proxy login, not the
        // session's (an anonymous session's empty one could never log in
        // to a proxy).
        LoginCase{"OpenLogsInToTheProxyWithTheProxyPassword",
                  FtpProxyMethod::kOpen,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {"USER pu", "PASS pp", "OPEN {host}", "USER alice", "PASS secret"}},
        LoginCase{"OpenWithoutProxyUser",
                  FtpProxyMethod::kOpen,
                  true,
                  "",
                  "",
                  {},
                  true,
                  {"OPEN {host}", "USER alice", "PASS secret"}},
        LoginCase{"UserPass",
                  FtpProxyMethod::kUserPass,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {"USER alice@pu@{host}", "PASS secret@pp"}},
        LoginCase{"UserPassWithoutProxyPassword",
                  FtpProxyMethod::kUserPass,
                  true,
                  "pu",
                  "",
                  {},
                  true,
                  {"USER alice@pu@{host}", "PASS secret"}},
        LoginCase{"Transparent",
                  FtpProxyMethod::kTransparent,
                  true,
                  "pu",
                  "pp",
                  {},
                  false,
                  {"USER pu", "PASS pp", "USER alice", "PASS secret"}},
        LoginCase{"UserHostFirewallId",
                  FtpProxyMethod::kUserHostFirewallId,
                  true,
                  "pu",
                  "pp",
                  {{"PASS secret", "332 Need account"}},
                  true,
                  {"USER alice@{host} pu", "PASS secret", "ACCT pp"}},
        LoginCase{"UserHostFirewallIdWithoutAccountRequest",
                  FtpProxyMethod::kUserHostFirewallId,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {"USER alice@{host} pu", "PASS secret"}},
        LoginCase{"NovellBorder",
                  FtpProxyMethod::kNovellBorder,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {"USER pu$alice${host}", "PASS pu$secret"}},
        LoginCase{"HttpProxyWithFtp",
                  FtpProxyMethod::kHttpProxyWithFtp,
                  true,
                  "pu",
                  "pp",
                  {},
                  true,
                  {},
                  false},
        LoginCase{
            "CustomProxy", FtpProxyMethod::kCustomProxy, true, "pu", "pp", {}, true, {}, false},
        LoginCase{"ProxyRefusesTheSite",
                  FtpProxyMethod::kSite,
                  true,
                  "",
                  "",
                  {{"SITE", "550 Unknown host"}},
                  true,
                  {"SITE {host}"},
                  false}),
    [](const ::testing::TestParamInfo<LoginCase>& test) { return test.param.name; });

}  // namespace
}  // namespace sqv64
