// The FTP client, the download runs and the whole weather service against
// FTP servers on 127.0.0.1: the scripted peer, and a real one (Debian's
// pyftpdlib) serving a tree shaped like the weather-observation service's.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "metar/airport_commands.h"
#include "metar/airport_list.h"
#include "metar/metar_download.h"
#include "metar/testing/advance_until.h"
#include "metar/testing/scripted_ftp_peer.h"
#include "metar/testing/weather_test_folder.h"
#include "metar/weather_service.h"
#include "support/ftp_test_server.h"
#include "support/temporary_folder.h"
#include "support/weather_reports.h"

namespace sqv64 {
namespace {

using std::chrono::milliseconds;
using testing_support::AdvanceUntil;
using testing_support::Downloaded;
using testing_support::Filed;
using testing_support::FtpTestServer;
using testing_support::kUudd0800;
using testing_support::kUuee0800;
using testing_support::kUuee0830;
using testing_support::Report;
using testing_support::ScriptedFtpPeer;
using testing_support::TemporaryFolder;
using testing_support::WeatherTestFolder;

const Report kKjfk0800{"2020/09/14 08:00", "KJFK 140800Z 00000KT 10SM CLR 20/10 A3000"};
const Report kKjfk1200{"2020/09/14 12:00", "KJFK 141200Z 00000KT 10SM CLR 20/10 A3000"};

// A weather server on 127.0.0.1 serving files of the station and cycle
// folders ("stations/UUEE.TXT", "cycles/12Z.TXT").
class WeatherServer {
 public:
  virtual ~WeatherServer() = default;
  virtual std::uint16_t port() const = 0;
  virtual void Serve(const std::string& name, const std::string& content) = 0;
};

class ServedByPeer final : public WeatherServer {
 public:
  std::uint16_t port() const override { return peer_.port(); }
  // The peer has one folder for all: the station files make its listing.
  void Serve(const std::string& name, const std::string& content) override {
    std::string file = name.substr(name.find('/') + 1);
    peer_.SetFile(file, content);
    if (name.rfind("stations/", 0) == 0) {
      station_sizes_[file] = content.size();
      std::string listing;
      for (const auto& [station, size] : station_sizes_)
        listing += "type=file;size=" + std::to_string(size) + "; " + station + "\r\n";
      peer_.SetListing(listing);
    }
  }

 private:
  ScriptedFtpPeer peer_;
  std::map<std::string, std::size_t> station_sizes_;
};

class ServedByPyftpdlib final : public WeatherServer {
 public:
  ServedByPyftpdlib() : server_(served_.path()) {}
  std::uint16_t port() const override { return server_.port(); }
  void Serve(const std::string& name, const std::string& content) override {
    served_.Write("data/observations/metar/" + name, content);
  }

 private:
  TemporaryFolder served_;
  FtpTestServer server_;
};

enum class ServerKind { kScriptedPeer, kPyftpdlib };

std::string NameOf(ServerKind kind) {
  return kind == ServerKind::kPyftpdlib ? "Pyftpdlib" : "ScriptedPeer";
}

void PrintTo(ServerKind kind, std::ostream* out) {
  *out << NameOf(kind);
}

class DownloadRunTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    if (GetParam() == ServerKind::kPyftpdlib) {
      SQV64_NEED_FTP_TEST_SERVER();
      server_ = std::make_unique<ServedByPyftpdlib>();
    } else {
      server_ = std::make_unique<ServedByPeer>();
    }
    ASSERT_NE(server_->port(), 0) << "the FTP server did not start";
    server_->Serve("stations/UUEE.TXT", Downloaded({kUuee0800}));
    server_->Serve("stations/UUDD.TXT", Downloaded({kUudd0800}));
    server_->Serve("stations/KJFK.TXT", Downloaded({kKjfk0800}));
    server_->Serve("cycles/12Z.TXT", Downloaded({kUuee0800, kUudd0800, kKjfk1200}));
    state_.settings.ftp_host = "127.0.0.1";
    state_.settings.ftp_port = server_->port();
  }

  // A download run that waits up to 10 s for each FTP step, never pauses
  // and always draws the lowest random number.
  std::unique_ptr<MetarDownload> Download() {
    return std::make_unique<MetarDownload>(
        test_.files(), state_, ftp_, [](int low, int) { return low; },
        MetarDownloadOptions{
            {std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)},
            milliseconds(0)});
  }

  std::unique_ptr<WeatherServer> server_;
  WeatherTestFolder test_;
  WeatherState state_;
  FtpClient ftp_{test_.platform()};
};

INSTANTIATE_TEST_SUITE_P(Servers, DownloadRunTest,
                         ::testing::Values(ServerKind::kScriptedPeer, ServerKind::kPyftpdlib),
                         [](const ::testing::TestParamInfo<ServerKind>& kind) {
                           return NameOf(kind.param);
                         });

TEST_P(DownloadRunTest, StationRunsFileTheServedReportsOfTheListedAirportsOnceEach) {
  AddAirports(test_.files(), "UUEEUUDD");
  ASSERT_EQ(LoadAirportList(test_.files(), state_.airport_list), -1);
  std::unique_ptr<MetarDownload> download = Download();
  download->MetarData2();
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kUuee0800}));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed({kUudd0800}));
  EXPECT_FALSE(test_.Exists("metar/kjfk.txt"));
  EXPECT_FALSE(ftp_.Connected());

  // A new report for UUEE: the next run adds it and nothing twice.
  server_->Serve("stations/UUEE.TXT", Downloaded({kUuee0800, kUuee0830}));
  download->MetarData2();
  EXPECT_EQ(download->wanted_stations().size(), 2u);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kUuee0800, kUuee0830}));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed({kUudd0800}));
}

TEST_P(DownloadRunTest, ACycleRunOfDownloadTypeOneFilesEveryStation) {
  state_.settings.download_type = 1;
  state_.last_cycle_hour = 14;
  std::unique_ptr<MetarDownload> download = Download();
  download->MetarData1();
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kUuee0800}));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed({kUudd0800}));
  EXPECT_EQ(test_.Read("metar/kjfk.txt"), Filed({kKjfk1200}));
  EXPECT_FALSE(ftp_.Connected());
}

class MetarEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SQV64_NEED_FTP_TEST_SERVER();
    Serve("stations/UUEE.TXT", Downloaded({kUuee0800}));
    Serve("stations/UUDD.TXT", Downloaded({kUudd0800}));
    Serve("stations/KJFK.TXT", Downloaded({kKjfk0800}));
    server_ = std::make_unique<FtpTestServer>(served_.path());
    ASSERT_NE(server_->port(), 0) << "the FTP server did not start";
  }

  void Serve(const std::string& name, const std::string& content) {
    served_.Write("data/observations/metar/" + name, content);
  }

  TemporaryFolder served_;
  std::unique_ptr<FtpTestServer> server_;
  WeatherTestFolder test_;
};

TEST_F(MetarEndToEndTest, TheServiceCollectsTheAirportsAClientAdds) {
  ManualTimerClock clock;
  WeatherServiceOptions options;
  options.timer_clock = &clock;
  options.own_addresses = [] { return std::vector<std::string>{"192.0.2.10"}; };
  options.ftp_timeouts = {std::chrono::seconds(10), std::chrono::seconds(10),
                          std::chrono::seconds(10)};
  options.session_pause = milliseconds(0);
  WeatherService service(test_.folder(), options);
  service.Start();

  service.SaveMetarSettings("Proxy.Type=fpcmNone\r\nftp.host=127.0.0.1\r\nftp.port=" +
                            std::to_string(server_->port()) + "\r\n");
  service.MarkSettingsChanged();
  service.AddAirports("UUEEUUDD");
  service.MarkSettingsChanged();
  // The settings run 5 s later, the first station run 5 s after that; it
  // ends with its session.
  ASSERT_TRUE(AdvanceUntil(clock, milliseconds(1000), [&] {
    return server_->ClosedSessions() == 1;
  })) << testing::PrintToString(server_->Events());
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kUuee0800}));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed({kUudd0800}));

  // A later run, 15 minutes on, brings the new report and nothing twice.
  Serve("stations/UUEE.TXT", Downloaded({kUuee0800, kUuee0830}));
  ASSERT_TRUE(AdvanceUntil(clock, milliseconds(10000), [&] {
    return server_->ClosedSessions() == 2;
  })) << testing::PrintToString(server_->Events());
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed({kUuee0800, kUuee0830}));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed({kUudd0800}));

  std::string codes = service.ListAirports();
  EXPECT_TRUE(codes == "uueeuudd" || codes == "uudduuee") << codes;
  service.RemoveAirports("UUDD");
  service.SetSettingsChanged();
  EXPECT_FALSE(test_.Exists("metar/uudd.txt"));
  EXPECT_EQ(service.ReadWeatherFile(test_.folder().PathOf("metar\\uuee.txt")),
            Filed({kUuee0800, kUuee0830}));
  service.Stop();
}

}  // namespace
}  // namespace sqv64
