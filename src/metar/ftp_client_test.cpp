#include "metar/ftp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "metar/testing/scripted_ftp_peer.h"
#include "support/eventually.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64 {
namespace {

using std::chrono::milliseconds;
using testing_support::Eventually;
using testing_support::ScriptedFtpPeer;
using testing_support::TemporaryFolder;
using testing_support::TestPlatform;
using Commands = std::vector<std::string>;

const Commands kLogin = {"USER alice", "PASS secret", "FEAT", "CLNT 1234", "TYPE A"};

Commands Concatenated(Commands first, const Commands& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class FtpClientTest : public ::testing::Test {
 protected:
  FtpSessionSettings Session(milliseconds timeout = milliseconds(10000)) {
    FtpSessionSettings session;
    session.host = "127.0.0.1";
    session.port = peer_.port();
    session.user = "alice";
    session.password = "secret";
    session.client_name = "1234";
    session.timeouts = {timeout, timeout, timeout};
    return session;
  }
  void Connect(milliseconds timeout = milliseconds(10000)) {
    client_.Configure(Session(timeout));
    client_.Connect();
  }
  std::string LocalPath(const std::string& name) { return folder_.ServerPath() + name; }

  ScriptedFtpPeer peer_;
  TemporaryFolder folder_;
  TestPlatform platform_;
  FtpClient client_{platform_};
};

TEST_F(FtpClientTest, ConnectLogsInAsksForFeaturesNamesTheClientAndSetsAsciiMode) {
  EXPECT_FALSE(client_.Connected());
  Connect();
  EXPECT_TRUE(client_.Connected());
  EXPECT_EQ(peer_.Commands(), kLogin);
}

TEST_F(FtpClientTest, MultiLineRepliesAreReadWholeAndWithoutClntNoNameIsSent) {
  peer_.SetGreeting("220-Welcome\r\n220-to the\r\n123 not the end\r\n220 server");
  peer_.SetReply("FEAT", "211-Extensions:\r\n MDTM\r\n211-SIZE\r\n211 End");
  peer_.SetReply("PASS", "230-Hello\r\n230 Logged in");
  Connect();
  client_.List();
  EXPECT_EQ(peer_.Commands(),
            (Commands{"USER alice", "PASS secret", "FEAT", "TYPE A", "PASV", "LIST"}));
}

TEST_F(FtpClientTest, ARefusedFeatureListMeansPlainListings) {
  peer_.SetReply("FEAT", "500 Unknown command");
  Connect();
  client_.List();
  EXPECT_EQ(peer_.Commands(),
            (Commands{"USER alice", "PASS secret", "FEAT", "TYPE A", "PASV", "LIST"}));
}

TEST_F(FtpClientTest, ListingsUseMlsdWhenOfferedAndReachThePassivePortOnTheControlAddress) {
  // The peer's PASV reply names 192.0.2.7; the listing arrives only because
  // the data connection goes to 127.0.0.1.
  peer_.SetListing("type=file;size=12; UUEE.TXT\r\ntype=file;size=13; UUDD.TXT\r\n");
  Connect();
  EXPECT_EQ(client_.List(),
            (Commands{"type=file;size=12; UUEE.TXT", "type=file;size=13; UUDD.TXT"}));
  EXPECT_EQ(peer_.Commands(), Concatenated(kLogin, {"PASV", "MLSD"}));

  ScriptedFtpPeer other;
  other.SetReply("FEAT", "211-Features:\r\n MLSD\r\n211 End");
  FtpSessionSettings session = Session();
  session.port = other.port();
  client_.Configure(session);
  client_.Connect();
  client_.List();
  EXPECT_EQ(other.Commands().back(), "MLSD");
}

TEST_F(FtpClientTest, TheLastSuccessfulListingIsKeptWhenAListingFails) {
  peer_.SetListing("first\r\nsecond\r\n");
  Connect();
  client_.List();
  peer_.SetReply("MLSD", "450 Directory busy");
  EXPECT_THROW(client_.List(), FtpError);
  EXPECT_EQ(client_.LastListing(), (Commands{"first", "second"}));
  EXPECT_TRUE(client_.Connected());
}

TEST_F(FtpClientTest, GetReplacesTheLocalFileWithTheRemoteBytes) {
  std::string content = "2020/09/14 08:00\nUUEE 140800Z\n\n";
  content += std::string(200000, 'x');  // more than one read
  peer_.SetFile("UUEE.TXT", content);
  folder_.Write("tmp.", "an older and much longer scratch file " + std::string(300000, 'y'));
  Connect();
  client_.ChangeDirectory("/data/observations/metar/stations");
  client_.Get("UUEE.TXT", LocalPath("tmp."));
  EXPECT_EQ(folder_.Read("tmp."), content);
  EXPECT_EQ(peer_.Commands(), Concatenated(kLogin, {"CWD /data/observations/metar/stations", "PASV",
                                                    "RETR UUEE.TXT"}));
}

TEST_F(FtpClientTest, AMissingRemoteFileLeavesAnEmptyLocalFileAndTheSessionUsable) {
  folder_.Write("tmp.", "old");
  peer_.SetFile("UUDD.TXT", "report");
  Connect();
  EXPECT_THROW(client_.Get("UUEE.TXT", LocalPath("tmp.")), FtpError);
  EXPECT_TRUE(folder_.Exists("tmp."));
  EXPECT_EQ(folder_.Read("tmp."), "");
  EXPECT_TRUE(client_.Connected());
  client_.Get("UUDD.TXT", LocalPath("tmp."));
  EXPECT_EQ(folder_.Read("tmp."), "report");
}

TEST_F(FtpClientTest, QuitSaysGoodbyeAndCloses) {
  Connect();
  client_.Quit();
  EXPECT_FALSE(client_.Connected());
  EXPECT_EQ(peer_.Commands().back(), "QUIT");
  EXPECT_THROW(client_.ChangeDirectory("/"), FtpError);
}

TEST_F(FtpClientTest, TheConnectionTestNoticesThatTheServerClosedTheConnection) {
  Connect();
  EXPECT_TRUE(client_.Connected());
  peer_.DropConnections();
  EXPECT_TRUE(Eventually([this] { return !client_.Connected(); }))
      << "the client still thinks it is connected";
}

TEST_F(FtpClientTest, RefusedLoginsAndUnreachableServersFailTheConnection) {
  peer_.SetReply("PASS", "530 Login incorrect");
  EXPECT_THROW(Connect(), FtpError);
  EXPECT_FALSE(client_.Connected());

  FtpSessionSettings session = Session();
  {
    ScriptedFtpPeer closed;
    session.port = closed.port();
  }
  client_.Configure(session);
  EXPECT_THROW(client_.Connect(), FtpError);
  EXPECT_FALSE(client_.Connected());
}

TEST_F(FtpClientTest, AServerThatNeverAnswersTimesOut) {
  peer_.SetGreeting("");
  auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(Connect(milliseconds(200)), FtpError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_FALSE(client_.Connected());
}

// A peer that never ends a reply, fast or slowly, ends the session as a
// silent one does, without holding more than one capped reply in memory.
TEST_F(FtpClientTest, RepliesThatNeverEndAreCappedAndEndTheSession) {
  struct Case {
    const char* what;
    std::string command;  // empty: the greeting
    std::string first;
    std::string repeated;
    milliseconds interval;
  };
  const Case cases[] = {
      {"an endless feature list", "FEAT", "211-Features:", " MDTM", milliseconds(0)},
      {"a feature list that trickles", "FEAT", "211-Features:", " MDTM", milliseconds(20)},
      {"endless waits for the greeting", "", "120 Wait", "120 Still waiting", milliseconds(0)},
      {"waits for the greeting that trickle", "", "120 Wait", "120 Still waiting",
       milliseconds(20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedFtpPeer peer;
    peer.SetEndlessReply(c.command, c.first, c.repeated, c.interval);
    FtpClient client(platform_);
    FtpSessionSettings session = Session(milliseconds(500));
    session.port = peer.port();
    client.Configure(session);
    auto connecting = std::async(std::launch::async, [&client] {
      try {
        client.Connect();
      } catch (const FtpError&) {
        return false;
      }
      return true;
    });
    if (connecting.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      client.Cancel();
      connecting.wait();
      ADD_FAILURE() << "the client was still reading the reply after 20 s";
      continue;
    }
    EXPECT_FALSE(connecting.get()) << "the session was opened";
    EXPECT_FALSE(client.Connected());
  }
}

TEST_F(FtpClientTest, ATransferThatBringsNoDataTimesOut) {
  peer_.SetFile("UUEE.TXT", "report");
  peer_.SetStallTransfers(true);
  // The login with time-outs a loaded machine meets; only the transfer's is
  // short.
  FtpSessionSettings session = Session();
  session.timeouts.transfer = milliseconds(300);
  client_.Configure(session);
  client_.Connect();
  auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(client_.Get("UUEE.TXT", LocalPath("tmp.")), FtpError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(folder_.Read("tmp."), "");
}

TEST_F(FtpClientTest, CommandsCannotCarryLineEnds) {
  Connect();
  EXPECT_THROW(client_.ChangeDirectory("x\r\nDELE y"), FtpError);
  EXPECT_EQ(peer_.Commands(), kLogin);
}

TEST_F(FtpClientTest, CancelFromAnotherThreadEndsAWaitAtOnce) {
  peer_.SetGreeting("");
  client_.Configure(Session(milliseconds(60000)));
  std::thread canceller([this] {
    // Cancels once the client waits for the greeting, or after the deadline
    // at the latest, so that the test ends either way.
    EXPECT_TRUE(Eventually([this] { return peer_.Connections() > 0; }))
        << "the client never connected";
    std::this_thread::sleep_for(milliseconds(50));
    client_.Cancel();
  });
  auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(client_.Connect(), FtpError);
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_FALSE(client_.Connected());
  EXPECT_THROW(client_.Connect(), FtpError);
  EXPECT_EQ(peer_.Connections(), 1);
}

}  // namespace
}  // namespace sqv64
