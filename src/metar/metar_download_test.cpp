#include "metar/metar_download.h"

#include <gtest/gtest.h>

#include "metar/testing/scripted_ftp_peer.h"
#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using testing_support::ScriptedFtpPeer;
using testing_support::WeatherTestFolder;
using Commands = std::vector<std::string>;

TEST(CycleFileNameTest, TheCycleOfTwoHoursBeforeWrappingAtMidnight) {
  EXPECT_EQ(CycleFileName(0), "22Z.TXT");
  EXPECT_EQ(CycleFileName(1), "23Z.TXT");
  EXPECT_EQ(CycleFileName(2), "00Z.TXT");
  EXPECT_EQ(CycleFileName(11), "09Z.TXT");
  EXPECT_EQ(CycleFileName(14), "12Z.TXT");
  EXPECT_EQ(CycleFileName(23), "21Z.TXT");
}

TEST(ListedStationCodeTest, TheFourBytesBeforeTheLastFour) {
  EXPECT_EQ(ListedStationCode("type=file;size=120; KABQ.TXT"), "KABQ");
  EXPECT_EQ(ListedStationCode("-rw-r--r-- 1 ftp ftp 120 Sep 14 08:00 kabq.txt"), "kabq");
  EXPECT_EQ(ListedStationCode("UUEE.TXT"), "UUEE");
  EXPECT_EQ(ListedStationCode("UEE.TXT"), "");
  EXPECT_EQ(ListedStationCode("UUEE1234"), "UUEE");
}

const std::string kUueeReport = "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK\n\n";
const std::string kUueeFiled = "2020/09/14 08:00\r\nUUEE 140800Z 18003MPS CAVOK\r\n";

class MetarDownloadTest : public ::testing::Test {
 protected:
  MetarDownloadTest() {
    state_.settings.ftp_host = "127.0.0.1";
    state_.settings.ftp_port = peer_.port();
    test_.Write("metar/uuee.txt", "");
    test_.Write("metar/uudd.txt", "");
    state_.airport_list = {"UUEE", "UUDD", "ZZZZ"};
  }

  Commands LoginCommands() {
    return {"USER Anonymous", "PASS ", "FEAT", "CLNT " + std::to_string(client_number_), "TYPE A"};
  }

  ScriptedFtpPeer peer_;
  WeatherTestFolder test_;
  WeatherState state_;
  FtpClient ftp_{test_.platform()};
  int client_number_ = 4242;
  std::vector<std::pair<int, int>> drawn_;
  MetarDownload download_{test_.files(), state_, ftp_,
                          [this](int low, int high) {
                            drawn_.emplace_back(low, high);
                            return client_number_;
                          },
                          MetarDownloadOptions{{std::chrono::seconds(10), std::chrono::seconds(10),
                                                std::chrono::seconds(10)},
                                               std::chrono::milliseconds(0)}};
};

TEST_F(MetarDownloadTest, TheCycleRunFetchesTheCycleOfTwoHoursBeforeFilesItAndQuits) {
  peer_.SetFile("12Z.TXT", kUueeReport + "2020/09/14 08:00\nKJFK 140800Z 00000KT\n\n");
  state_.last_cycle_hour = 14;
  download_.MetarData1();
  Commands expected = LoginCommands();
  expected.insert(expected.end(),
                  {"CWD /data/observations/metar/cycles", "PASV", "RETR 12Z.TXT", "QUIT"});
  EXPECT_EQ(peer_.Commands(), expected);
  EXPECT_EQ(drawn_, (std::vector<std::pair<int, int>>{{1000, 4999}}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), kUueeFiled);
  EXPECT_FALSE(test_.Exists("metar/kjfk.txt"));
  EXPECT_FALSE(ftp_.Connected());
}

TEST_F(MetarDownloadTest, WithoutARouteTheCycleRunOnlyDeletesTheOldScratchFile) {
  {
    ScriptedFtpPeer closed;
    state_.settings.ftp_port = closed.port();
  }
  test_.Write("metar/tmp.", kUueeReport);
  state_.last_cycle_hour = 14;
  download_.MetarData1();
  EXPECT_FALSE(test_.Exists("metar/tmp."));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");
}

TEST_F(MetarDownloadTest, TheStationRunFetchesTheListedAirportsInListingOrder) {
  peer_.SetListing(
      "type=cdir; .\r\n"
      "type=file;size=60; UUEE.TXT\r\n"
      "type=file;size=60; uudd.txt\r\n"
      "type=file;size=60; KJFK.TXT\r\n"
      "A.TXT\r\n"
      "UUDDXXXX\r\n");
  peer_.SetFile("UUEE.TXT", kUueeReport);
  peer_.SetFile("UUDD.TXT", "2020/09/14 08:00\nUUDD 140800Z 00000MPS\n");
  download_.MetarData2();
  EXPECT_EQ(download_.wanted_stations(), (WantedStations{"UUEE", "UUDD"}));
  Commands expected = LoginCommands();
  expected.insert(expected.end(), {"CWD /data/observations/metar/stations", "PASV", "MLSD", "PASV",
                                   "RETR UUEE.TXT", "PASV", "RETR UUDD.TXT", "QUIT"});
  EXPECT_EQ(peer_.Commands(), expected);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), kUueeFiled);
  EXPECT_EQ(test_.Read("metar/uudd.txt"), "2020/09/14 08:00\r\nUUDD 140800Z 00000MPS\r\n");
}

TEST_F(MetarDownloadTest, ARunThatWantsNoStationLeavesTheConnectionOpenForTheNext) {
  peer_.SetListing("type=file;size=60; KJFK.TXT\r\n");
  download_.MetarData2();
  EXPECT_TRUE(download_.wanted_stations().empty());
  EXPECT_TRUE(ftp_.Connected());
  download_.MetarData2();
  Commands expected = LoginCommands();
  expected.insert(expected.end(), {"CWD /data/observations/metar/stations", "PASV", "MLSD",
                                   "CWD /data/observations/metar/stations", "PASV", "MLSD"});
  EXPECT_EQ(peer_.Commands(), expected);
  EXPECT_EQ(peer_.Connections(), 1);
}

TEST_F(MetarDownloadTest, AMissingRemoteFileFilesNothing) {
  peer_.SetListing("type=file;size=60; UUEE.TXT\r\n");
  download_.MetarData2();
  EXPECT_EQ(test_.Read("metar/tmp."), "");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");
  EXPECT_FALSE(ftp_.Connected());
}

TEST_F(MetarDownloadTest, AFailedListingFallsBackOnTheLastOne) {
  peer_.SetListing("type=file;size=60; UUEE.TXT\r\n");
  peer_.SetFile("UUEE.TXT", kUueeReport);
  download_.MetarData2();
  peer_.SetReply("MLSD", "450 Try again later");
  test_.Write("metar/uuee.txt", "");
  download_.MetarData2();
  EXPECT_EQ(download_.wanted_stations(), (WantedStations{"UUEE"}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), kUueeFiled);
  EXPECT_EQ(peer_.Connections(), 2);
}

TEST_F(MetarDownloadTest, TheSessionUsesTheSettingsProxyAndANewClientNameEachTime) {
  state_.settings.proxy.method = FtpProxyMethod::kUserPass;
  state_.settings.proxy.host = "127.0.0.1";
  state_.settings.proxy.port = peer_.port();
  state_.settings.proxy.user = "gate";
  state_.settings.ftp_host = "tgftp.nws.noaa.gov";
  state_.settings.ftp_port = 21;
  download_.FtpPropetr();
  const FtpSessionSettings& session = ftp_.session();
  EXPECT_EQ(session.user, "Anonymous");
  EXPECT_EQ(session.password, "");
  EXPECT_EQ(session.client_name, "4242");
  EXPECT_EQ(session.timeouts.read, std::chrono::seconds(10));
  state_.last_cycle_hour = 14;
  download_.MetarData1();
  EXPECT_EQ(peer_.Commands().front(), "USER Anonymous@gate@tgftp.nws.noaa.gov");
  EXPECT_EQ(drawn_.size(), 2u);
}

// Every run's outcome, with the first failure's words.
TEST_F(MetarDownloadTest, EachRunRecordsItsOutcomeWithTheFirstFailure) {
  std::vector<std::string> logged;
  WeatherHealth health([&](const std::string& text) { logged.push_back(text); });
  auto started = std::chrono::system_clock::time_point(std::chrono::hours(1));
  download_.RecordOutcomesIn(health, [&] { return started; });
  auto last = [&] { return health.Snapshot().last_run.value(); };

  peer_.SetListing("type=file;size=60; UUEE.TXT\r\ntype=file;size=60; UUDD.TXT\r\n");
  peer_.SetFile("UUEE.TXT", kUueeReport);
  peer_.SetFile("UUDD.TXT", "2020/09/14 08:00\nUUDD 140800Z 00000MPS\n");
  download_.MetarData2();
  EXPECT_EQ(last().kind, RunKind::kStation);
  EXPECT_EQ(last().started, started);
  EXPECT_TRUE(last().outcome.succeeded) << last().outcome.error;
  EXPECT_EQ(last().outcome.reports_filed, 2);

  state_.last_cycle_hour = 14;
  download_.MetarData1();
  EXPECT_EQ(last().kind, RunKind::kCycle);
  EXPECT_FALSE(last().outcome.succeeded);
  EXPECT_EQ(last().outcome.error.rfind("RETR refused: 550", 0), 0u) << last().outcome.error;

  std::uint16_t closed_port = 0;
  {
    ScriptedFtpPeer closed;
    closed_port = closed.port();
  }
  state_.settings.ftp_port = closed_port;
  download_.MetarData2();
  EXPECT_FALSE(last().outcome.succeeded);
  // The system's own words follow (they differ between systems).
  std::string refused = "cannot connect to 127.0.0.1 port " + std::to_string(closed_port) + ": ";
  EXPECT_EQ(last().outcome.error.rfind(refused, 0), 0u) << last().outcome.error;
  EXPECT_TRUE(health.Snapshot().last_cycle_run);
  EXPECT_EQ(logged, std::vector<std::string>{"METAR cycle run failed: " +
                                             health.Snapshot().last_cycle_run->outcome.error});
}

}  // namespace
}  // namespace sqv64
