#include "metar/http_metar_download.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "metar/download_transport.h"
#include "metar/testing/scripted_http_downloader.h"
#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using platform::HttpResult;
using testing_support::ScriptedHttpDownloader;
using testing_support::WeatherTestFolder;

const std::string kBase = "https://mirror.example/Data/METAR";
const std::string kUuee0800 = "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK\n\n";
const std::string kUuee0800Filed = "2020/09/14 08:00\r\nUUEE 140800Z 18003MPS CAVOK\r\n";
const std::string kUuee0830 = "2020/09/14 08:30\nUUEE 140830Z 18004MPS CAVOK\n\n";
const std::string kUuee0830Filed = "2020/09/14 08:30\r\nUUEE 140830Z 18004MPS CAVOK\r\n";
const std::string kUudd0800 = "2020/09/14 08:00\nUUDD 140800Z 00000MPS 9999\n\n";
const std::string kUudd0800Filed = "2020/09/14 08:00\r\nUUDD 140800Z 00000MPS 9999\r\n";

TEST(WeatherUrlOfTest, JoinsWithOneSlash) {
  EXPECT_EQ(WeatherUrlOf("https://h/metar", "cycles/12Z.TXT"), "https://h/metar/cycles/12Z.TXT");
  EXPECT_EQ(WeatherUrlOf("https://h/metar//", "stations/UUEE.TXT"),
            "https://h/metar/stations/UUEE.TXT");
}

class HttpMetarDownloadTest : public ::testing::Test {
 protected:
  HttpMetarDownloadTest() {
    state_.settings.weather_url = kBase + "/";
    test_.Write("metar/uuee.txt", "");
    test_.Write("metar/uudd.txt", "");
    state_.airport_list = {"UUEE", "UUDD", "ZZZZ"};
  }

  static std::string Station(const std::string& code) {
    return kBase + "/stations/" + code + ".TXT";
  }
  std::vector<std::string> RequestedUrls() {
    std::vector<std::string> urls;
    for (const auto& request : http_.Requests())
      urls.push_back(request.url);
    return urls;
  }

  WeatherTestFolder test_;
  WeatherState state_;
  ScriptedHttpDownloader http_;
  HttpMetarDownload download_{
      test_.files(), state_, http_,
      HttpMetarDownloadOptions{std::chrono::seconds(7), std::chrono::seconds(9), 1000}};
};

TEST_F(HttpMetarDownloadTest, TheCycleRunFetchesTheCycleOfTwoHoursBeforeAndFilesIt) {
  http_.Serve(kBase + "/cycles/12Z.TXT",
              {kUuee0800 + "2020/09/14 08:00\nKJFK 140800Z 00000KT\n\n", "", ""});
  state_.last_cycle_hour = 14;
  download_.MetarData1();
  ASSERT_EQ(RequestedUrls(), std::vector<std::string>{kBase + "/cycles/12Z.TXT"});
  const platform::HttpRequest request = http_.Requests()[0];
  EXPECT_EQ(request.connect_timeout, std::chrono::seconds(7));
  EXPECT_EQ(request.idle_timeout, std::chrono::seconds(9));
  EXPECT_EQ(request.max_body_bytes, 1000u);
  EXPECT_EQ(request.if_modified_since, "");
  EXPECT_EQ(request.proxy.host, "");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), kUuee0800Filed);
  EXPECT_FALSE(test_.Exists("metar/kjfk.txt"));
  EXPECT_EQ(download_.last_error(), "");
}

TEST_F(HttpMetarDownloadTest, TheStationRunAsksForEveryListedAirportInListOrder) {
  http_.Serve(Station("UUEE"), {kUuee0800, "Mon, 14 Sep 2020 08:05:00 GMT", "\"e1\""});
  http_.Serve(Station("UUDD"), {kUudd0800, "Mon, 14 Sep 2020 08:06:00 GMT", ""});
  state_.airport_list.push_back("../x");
  download_.MetarData2();
  // ZZZZ is not served (a 404, nothing filed); "../x" is no airport code
  // and is never put into a URL.
  EXPECT_EQ(RequestedUrls(),
            (std::vector<std::string>{Station("UUEE"), Station("UUDD"), Station("ZZZZ")}));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), kUuee0800Filed);
  EXPECT_EQ(test_.Read("metar/uudd.txt"), kUudd0800Filed);
  EXPECT_FALSE(test_.Exists("metar/zzzz.txt"));
  EXPECT_FALSE(test_.Exists("metar/tmp."));
  EXPECT_EQ(download_.last_error(), "");
}

TEST_F(HttpMetarDownloadTest, ALaterRunAsksWithTheValidatorsOfTheLastGoodFetch) {
  http_.Serve(Station("UUEE"), {kUuee0800, "Mon, 14 Sep 2020 08:05:00 GMT", "\"e1\""});
  http_.Serve(Station("UUDD"), {kUudd0800, "Mon, 14 Sep 2020 08:06:00 GMT", ""});
  download_.MetarData2();
  http_.ClearRequests();

  // Unchanged: 304s, nothing filed anew.
  test_.Write("metar/uuee.txt", "");
  download_.MetarData2();
  auto requests = http_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].if_modified_since, "Mon, 14 Sep 2020 08:05:00 GMT");
  EXPECT_EQ(requests[0].if_none_match, "\"e1\"");
  EXPECT_EQ(requests[1].if_modified_since, "Mon, 14 Sep 2020 08:06:00 GMT");
  EXPECT_EQ(requests[1].if_none_match, "");
  EXPECT_EQ(requests[2].if_modified_since, "");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");

  // A failed fetch keeps the validators of the last good one; a new file
  // brings new ones.
  http_.Fail(Station("UUEE"), {HttpResult::Outcome::kCompleted, 500, "oops"});
  download_.MetarData2();
  http_.Serve(Station("UUEE"), {kUuee0830, "Mon, 14 Sep 2020 08:35:00 GMT", "\"e2\""});
  http_.ClearRequests();
  download_.MetarData2();
  EXPECT_EQ(http_.Requests()[0].if_none_match, "\"e1\"");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), kUuee0830Filed);
  http_.ClearRequests();
  download_.MetarData2();
  EXPECT_EQ(http_.Requests()[0].if_none_match, "\"e2\"");
}

TEST_F(HttpMetarDownloadTest, OnlyAWhole200ResponseIsFiled) {
  struct Case {
    const char* what;
    ScriptedHttpDownloader::Failure failure;
  };
  const Case cases[] = {
      {"a server error", {HttpResult::Outcome::kCompleted, 500, kUuee0800}},
      {"a redirect not followed", {HttpResult::Outcome::kCompleted, 302, kUuee0800}},
      {"a body past the cap", {HttpResult::Outcome::kTooLarge, 200, kUuee0800}},
      {"a broken transfer", {HttpResult::Outcome::kFailed, 200, kUuee0800}},
      {"a cancelled one", {HttpResult::Outcome::kCancelled, 200, kUuee0800}},
  };
  for (const Case& c : cases) {
    http_.Fail(Station("UUEE"), c.failure);
    http_.Fail(kBase + "/cycles/12Z.TXT", c.failure);
    state_.last_cycle_hour = 14;
    download_.MetarData2();
    download_.MetarData1();
    EXPECT_EQ(test_.Read("metar/uuee.txt"), "") << c.what;
    EXPECT_FALSE(test_.Exists("metar/tmp.")) << c.what;
    EXPECT_NE(download_.last_error(), "") << c.what;
  }
}

TEST_F(HttpMetarDownloadTest, TheProxyIsUsedOnlyWhenItIsAnHttpProxy) {
  http_.Serve(Station("UUEE"), {kUuee0800, "", ""});
  state_.airport_list = {"UUEE"};
  state_.settings.weather_ca = "/etc/Certs/CA.pem";
  state_.settings.proxy = {"gate", 3128, "ivan", "secret", FtpProxyMethod::kUserSite};
  download_.MetarData2();
  state_.settings.proxy.method = FtpProxyMethod::kHttpProxyWithFtp;
  download_.MetarData2();
  state_.settings.proxy.host.clear();
  download_.MetarData2();
  auto requests = http_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].proxy.host, "");
  EXPECT_EQ(requests[1].proxy.host, "gate");
  EXPECT_EQ(requests[1].proxy.port, 3128);
  EXPECT_EQ(requests[1].proxy.user, "ivan");
  EXPECT_EQ(requests[1].proxy.password, "secret");
  EXPECT_EQ(requests[2].proxy.host, "");
  EXPECT_EQ(requests[1].extra_ca_file, "/etc/Certs/CA.pem");
}

// Counts the runs it is asked for.
class CountingRuns : public DownloadRuns {
 public:
  void MetarData1() override { ++cycle_runs; }
  void MetarData2() override { ++station_runs; }
  int cycle_runs = 0;
  int station_runs = 0;
};

TEST_F(HttpMetarDownloadTest, EachRunRecordsItsOutcomeForTheHealthOfTheCollection) {
  std::vector<std::string> changes;
  WeatherHealth health([&](const std::string& text) { changes.push_back(text); });
  const auto now = std::chrono::system_clock::time_point(std::chrono::hours(24 * 365 * 50));
  download_.RecordOutcomesIn(health, [&] { return now; });

  http_.Serve(Station("UUEE"), {kUuee0800, "", ""});
  http_.Fail(Station("UUDD"), {HttpResult::Outcome::kFailed, 0, ""});
  download_.MetarData2();
  std::optional<RunRecord> station = health.Snapshot().last_station_run;
  ASSERT_TRUE(station.has_value());
  EXPECT_FALSE(station->outcome.succeeded);
  EXPECT_NE(station->outcome.error.find(Station("UUDD")), std::string::npos)
      << station->outcome.error;
  EXPECT_EQ(station->outcome.reports_filed, 1);
  EXPECT_EQ(station->started, now);
  EXPECT_EQ(changes.size(), 1u);

  // Back to working: the station that failed answers, the other is unchanged.
  http_.Serve(Station("UUDD"), {kUudd0800, "", ""});
  download_.MetarData2();
  station = health.Snapshot().last_station_run;
  ASSERT_TRUE(station.has_value());
  EXPECT_TRUE(station->outcome.succeeded) << station->outcome.error;
  EXPECT_EQ(station->outcome.reports_filed, 1);
  EXPECT_EQ(changes.size(), 2u);

  // A run that the service's stop cuts short says nothing of the server.
  http_.Cancel();
  download_.MetarData1();
  EXPECT_FALSE(health.Snapshot().last_cycle_run.has_value());
}

TEST(DownloadTransportTest, TheWeatherUrlChoosesHttpAtEveryRun) {
  WeatherState state;
  CountingRuns ftp;
  CountingRuns http;
  DownloadTransport transport(state, ftp, http);
  EXPECT_EQ(transport.Name(), "ftp");
  transport.MetarData1();
  transport.MetarData2();
  state.settings.weather_url = "https://mirror/metar";
  EXPECT_EQ(transport.Name(), "http");
  transport.MetarData2();
  state.settings.weather_url.clear();
  transport.MetarData2();
  EXPECT_EQ(ftp.cycle_runs, 1);
  EXPECT_EQ(ftp.station_runs, 2);
  EXPECT_EQ(http.station_runs, 1);
  EXPECT_EQ(http.cycle_runs, 0);
}

}  // namespace
}  // namespace sqv64
