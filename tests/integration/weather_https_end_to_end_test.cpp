// Weather collection over HTTPS end to end: the server process, driven only
// through the protocol, collects reports from Debian's nginx on 127.0.0.1
// with a certificate made for the test, directly and through a CONNECT
// proxy. The server's timers run at their real periods, so each run takes
// about ten seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "protocol_client.h"
#include "support/eventually.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"
#include "support/web_test_servers.h"

namespace sqv64 {
namespace {

using testing_support::ConnectTestProxy;
using testing_support::Eventually;
using testing_support::NginxTestServer;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;
using testing_support::TestCertificates;

const std::string kUuee0800 = "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\n";
const std::string kUudd0800 = "2020/09/14 08:00\nUUDD 140800Z 00000MPS 9999 SCT030 14/09 Q1016\n";
const std::string kEgll0800 = "2020/09/14 08:00\nEGLL 140800Z 24010KT 9999 FEW030 16/09 Q1012\n";
const std::string kEgll0830 = "2020/09/14 08:30\nEGLL 140830Z 24011KT 9999 FEW030 16/09 Q1012\n";
// The tree's folder has upper-case letters: the URL keeps them.
const std::string kTree = "/Data/Observations/METAR";

// Reports as an airport file holds them: CR LF line ends.
std::string Filed(const std::string& served) {
  std::string filed;
  for (char byte : served) {
    if (byte == '\n')
      filed += '\r';
    filed += byte;
  }
  return filed;
}

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(),
                    [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

class WeatherHttpsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::WebTestServersAvailable())
        << "nginx, openssl or python3 is missing: run scripts/install-deps.sh";
    served_.Write(kTree.substr(1) + "/stations/UUEE.TXT", kUuee0800);
    served_.Write(kTree.substr(1) + "/stations/UUDD.TXT", kUudd0800);
    served_.Write(kTree.substr(1) + "/stations/KJFK.TXT",
                  "2020/09/14 08:00\nKJFK 140800Z 00000KT\n");
  }

  // The tree, with a 404 for ZZZZ whose body looks like a report of it:
  // only the status tells that it is none.
  NginxTestServer::Options GoodServer() {
    return {served_.path(), certificates_.server_certificate(), certificates_.server_key(),
            "    location = " + kTree + "/stations/ZZZZ.TXT {\n" +
                "      return 404 \"2020/09/14 08:00\\nZZZZ 140800Z 00000KT CAVOK\\n\";\n    }\n"};
  }

  std::string Settings(const NginxTestServer& nginx, const std::string& extra = "") {
    return "Proxy.Type=fpcmNone\r\nDwnld.Type=0\r\nWeather.URL=" + nginx.origin() + kTree +
           "\r\nWeather.CA=" + certificates_.ca().string() + "\r\n" + extra;
  }

  // Both airports filed once, the station the server lacks asked for and
  // not filed, and the one nobody listed neither asked for nor filed; then a
  // second run whose requests are all conditional and file nothing.
  void ExpectCollectedOnceThenAskedConditionally(const NginxTestServer& nginx,
                                                 const std::string& settings) {
    TemporaryFolder folder;
    ServerProcess server(folder.path());
    ProtocolClient client("127.0.0.1", server.port());
    client.Run("test", "SetMIni", settings);
    ASSERT_EQ(folder.Read("metar/metar.ini"), settings);
    client.Run("test", "SetArpt", "UUEEUUDDZZZZ");

    auto collected = [&] {
      return folder.Read("metar/uuee.txt") == Filed(kUuee0800) &&
             folder.Read("metar/uudd.txt") == Filed(kUudd0800) &&
             CountOf(nginx.AccessLog(), "GET " + kTree + "/stations/ZZZZ.TXT 404") == 1;
    };
    ASSERT_TRUE(Eventually(collected, std::chrono::seconds(25)))
        << "uuee.txt: " << folder.Read("metar/uuee.txt")
        << "\nuudd.txt: " << folder.Read("metar/uudd.txt") << "\naccess log:\n"
        << Joined(nginx.AccessLog()) << "server:\n"
        << server.Output();
    EXPECT_EQ(folder.Read("metar/zzzz.txt"), "");
    EXPECT_FALSE(folder.Exists("metar/kjfk.txt"));
    EXPECT_EQ(CountOf(nginx.AccessLog(), "KJFK"), 0u);

    // A run started anew by adding an airport that is already there.
    client.Run("test", "SetArpt", "UUEE");
    auto asked_conditionally = [&] {
      auto log = nginx.AccessLog();
      return CountOf(log, "GET " + kTree + "/stations/UUEE.TXT 304") == 1 &&
             CountOf(log, "GET " + kTree + "/stations/UUDD.TXT 304") == 1 &&
             CountOf(log, "GET " + kTree + "/stations/ZZZZ.TXT 404") == 2;
    };
    ASSERT_TRUE(Eventually(asked_conditionally, std::chrono::seconds(25)))
        << Joined(nginx.AccessLog());
    for (const std::string& line : nginx.AccessLog()) {
      if (line.find(" 304 ") != std::string::npos) {
        EXPECT_EQ(line.find(" - -"), std::string::npos) << "no validator sent: " << line;
      }
    }
    EXPECT_EQ(folder.Read("metar/uuee.txt"), Filed(kUuee0800));
    EXPECT_EQ(folder.Read("metar/uudd.txt"), Filed(kUudd0800));
    EXPECT_EQ(client.Run("test", "GetOK").bytes, "OK");
    EXPECT_EQ(server.Stop(), 0);
  }

  TestCertificates certificates_;
  TemporaryFolder served_;
};

TEST_F(WeatherHttpsEndToEnd, AirportsAreCollectedOnceAndThenAskedForConditionally) {
  NginxTestServer nginx(GoodServer());
  ExpectCollectedOnceThenAskedConditionally(nginx, Settings(nginx));
}

TEST_F(WeatherHttpsEndToEnd, AirportsAreCollectedThroughAConnectProxyWithBasicAuthentication) {
  NginxTestServer nginx(GoodServer());
  ConnectTestProxy proxy("ivan", "secret");
  ExpectCollectedOnceThenAskedConditionally(
      nginx,
      Settings(nginx,
               "Proxy.Type=fpcmHttpProxyWithFtp\r\nProxy.Host=127.0.0.1\r\n"
               "Proxy.Port=" +
                   std::to_string(proxy.port()) + "\r\nProxy.User=ivan\r\nProxy.Pass=secret\r\n"));
  std::vector<std::string> log = proxy.Log();
  EXPECT_EQ(CountOf(log, "CONNECT 127.0.0.1:" + std::to_string(nginx.port()) + " 200"), log.size());
  EXPECT_GE(log.size(), 1u);
}

TEST_F(WeatherHttpsEndToEnd, BadAnswersFileNothingAndTheServiceGoesOn) {
  // A server whose certificate the trusted CA did not sign, serving a
  // report that must never arrive.
  TemporaryFolder stranger_tree;
  stranger_tree.Write(kTree.substr(1) + "/stations/EGLL.TXT", kEgll0830);
  NginxTestServer stranger({stranger_tree.path(), certificates_.stranger_certificate(),
                            certificates_.stranger_key(), ""});
  // One server with a bad answer per airport, and one good one.
  std::string stations = kTree + "/stations/";
  served_.Write(kTree.substr(1) + "/stations/EGLL.TXT", kEgll0800);
  std::filesystem::path big = served_.Write(kTree.substr(1) + "/stations/KJFK.TXT", "");
  std::filesystem::resize_file(big, (std::uintmax_t{64} << 20) + (std::uintmax_t{1} << 20));
  NginxTestServer nginx(
      {served_.path(), certificates_.server_certificate(), certificates_.server_key(),
       "    location = " + stations + "UUEE.TXT {\n" +
           "      return 500 \"2020/09/14 08:00\\nUUEE 140800Z 18003MPS CAVOK\\n\";\n    }\n" +
           "    location = " + stations + "UUDD.TXT {\n" +
           "      return 302 http://127.0.0.1:@PORT@/plain/UUDD.TXT;\n    }\n" +
           "    location /plain/ { return 200 \"" + kUudd0800.substr(0, 16) + "\\n\"; }\n"});

  TemporaryFolder folder;
  ServerProcess server(folder.path());
  ProtocolClient client("127.0.0.1", server.port());
  client.Run("test", "SetMIni", Settings(stranger));
  client.Run("test", "SetArpt", "EGLL");
  auto rejected = [&] { return stranger.ErrorLog().find("SSL_do_handshake") != std::string::npos; };
  ASSERT_TRUE(Eventually(rejected, std::chrono::seconds(25))) << stranger.ErrorLog();

  client.Run("test", "SetMIni", Settings(nginx));
  client.Run("test", "SetArpt", "UUEEUUDDKJFKEGLL");
  // Two whole runs: the first one is over once the second has asked for
  // every station.
  auto two_runs = [&] {
    auto log = nginx.AccessLog();
    return CountOf(log, "GET " + stations + "UUEE.TXT 500") == 2 &&
           CountOf(log, "GET " + stations + "UUDD.TXT 302") == 2 &&
           CountOf(log, "GET " + stations + "KJFK.TXT") == 2 &&
           CountOf(log, "GET " + stations + "EGLL.TXT") == 2;
  };
  ASSERT_TRUE(Eventually([&] { return folder.Read("metar/egll.txt") == Filed(kEgll0800); },
                         std::chrono::seconds(25)))
      << folder.Read("metar/egll.txt") << "\n"
      << Joined(nginx.AccessLog());
  client.Run("test", "SetArpt", "EGLL");
  ASSERT_TRUE(Eventually(two_runs, std::chrono::seconds(25))) << Joined(nginx.AccessLog());
  EXPECT_EQ(CountOf(nginx.AccessLog(), "/plain/"), 0u) << "a redirect to http:// was followed";
  EXPECT_EQ(folder.Read("metar/uuee.txt"), "");
  EXPECT_EQ(folder.Read("metar/uudd.txt"), "");
  EXPECT_EQ(folder.Read("metar/kjfk.txt"), "");
  EXPECT_EQ(folder.Read("metar/egll.txt"), Filed(kEgll0800));
  EXPECT_EQ(client.Run("test", "GetOK").bytes, "OK");
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace sqv64
