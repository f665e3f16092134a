// The FTP client, the download runs and the whole weather service against a
// real FTP server: Debian's pyftpdlib, started here on 127.0.0.1, serving a
// tree shaped like the weather-observation service's.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "metar/airport_commands.h"
#include "metar/airport_list.h"
#include "metar/metar_download.h"
#include "metar/testing/advance_until.h"
#include "metar/testing/weather_test_folder.h"
#include "metar/weather_service.h"
#include "support/ftp_test_server.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using testing_support::FtpTestServer;
using testing_support::TemporaryFolder;
using testing_support::WeatherTestFolder;

using testing_support::AdvanceUntil;
using testing_support::Eventually;

const std::string kUuee0800 = "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\n";
const std::string kUuee0830 = "2020/09/14 08:30\nUUEE 140830Z 18004MPS CAVOK 16/08 Q1015 NOSIG\n";
const std::string kUudd0800 = "2020/09/14 08:00\nUUDD 140800Z 00000MPS 9999 SCT030 14/09 Q1016\n";

// The same reports as an airport file holds them.
std::string Filed(const std::string& served) {
  std::string filed;
  for (char byte : served) {
    if (byte == '\n')
      filed += '\r';
    filed += byte;
  }
  return filed;
}

class MetarEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FtpTestServer::Available())
      GTEST_SKIP() << "pyftpdlib is not installed";
    Serve("stations/UUEE.TXT", kUuee0800);
    Serve("stations/UUDD.TXT", kUudd0800);
    Serve("stations/KJFK.TXT", "2020/09/14 08:00\nKJFK 140800Z 00000KT 10SM CLR 20/10 A3000\n");
    Serve("cycles/12Z.TXT", kUuee0800 + "\n" + kUudd0800 + "\n" +
                                "2020/09/14 12:00\nKJFK 141200Z 00000KT 10SM CLR 20/10 A3000\n");
    server_ = std::make_unique<FtpTestServer>(served_.path());
    ASSERT_NE(server_->port(), 0) << "the FTP server did not start";
  }

  void Serve(const std::string& name, const std::string& content) {
    served_.Write("data/observations/metar/" + name, content);
  }

  // Weather state whose settings name the test's FTP server.
  WeatherState ServedState() const {
    WeatherState state;
    state.settings.ftp_host = "127.0.0.1";
    state.settings.ftp_port = server_->port();
    return state;
  }

  // A download run that waits up to 10 s for each FTP step, never pauses
  // and always draws the lowest random number.
  std::unique_ptr<MetarDownload> Download(WeatherState& state, FtpClient& ftp) {
    return std::make_unique<MetarDownload>(
        test_.files(), state, ftp, [](int low, int) { return low; },
        MetarDownloadOptions{
            {std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)},
            milliseconds(0)});
  }

  TemporaryFolder served_;
  std::unique_ptr<FtpTestServer> server_;
  WeatherTestFolder test_;
};

TEST_F(MetarEndToEndTest, StationRunsFileTheServedReportsOnceEach) {
  WeatherState state = ServedState();
  AddAirports(test_.files(), "UUEEUUDD");
  ASSERT_EQ(LoadAirportList(test_.files(), state.airport_list), -1);
  FtpClient ftp(test_.platform());
  std::unique_ptr<MetarDownload> download = Download(state, ftp);
  download->MetarData2();
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed(kUuee0800));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed(kUudd0800));
  EXPECT_FALSE(test_.Exists("metar/kjfk.txt"));

  download->MetarData2();
  EXPECT_EQ(download->wanted_stations().size(), 2u);
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed(kUuee0800));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed(kUudd0800));
}

TEST_F(MetarEndToEndTest, ACycleRunOfDownloadTypeOneFilesEveryStation) {
  WeatherState state = ServedState();
  state.settings.download_type = 1;
  state.last_cycle_hour = 14;
  FtpClient ftp(test_.platform());
  std::unique_ptr<MetarDownload> download = Download(state, ftp);
  download->MetarData1();
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed(kUuee0800));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed(kUudd0800));
  EXPECT_EQ(test_.Read("metar/kjfk.txt"),
            Filed("2020/09/14 12:00\nKJFK 141200Z 00000KT 10SM CLR 20/10 A3000\n"));
  EXPECT_FALSE(ftp.Connected());
}

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
  // The settings run 5 s later, the first station run 5 s after that.
  ASSERT_TRUE(AdvanceUntil(clock, milliseconds(1000), [&] {
    return test_.Read("metar/uuee.txt") == Filed(kUuee0800) &&
           test_.Read("metar/uudd.txt") == Filed(kUudd0800);
  }));

  // A later run, 15 minutes on, brings the new report and nothing twice.
  Serve("stations/UUEE.TXT", kUuee0800 + "\n" + kUuee0830);
  ASSERT_TRUE(AdvanceUntil(clock, milliseconds(10000), [&] {
    return test_.Read("metar/uuee.txt").size() > Filed(kUuee0800).size();
  }));
  EXPECT_EQ(test_.Read("metar/uuee.txt"), Filed(kUuee0800 + kUuee0830));
  EXPECT_EQ(test_.Read("metar/uudd.txt"), Filed(kUudd0800));

  std::string codes = service.ListAirports();
  EXPECT_TRUE(codes == "uueeuudd" || codes == "uudduuee") << codes;
  service.RemoveAirports("UUDD");
  service.SetSettingsChanged();
  EXPECT_FALSE(test_.Exists("metar/uudd.txt"));
  EXPECT_EQ(service.ReadWeatherFile(test_.folder().PathOf("metar\\uuee.txt")),
            Filed(kUuee0800 + kUuee0830));
  service.Stop();
}

}  // namespace
}  // namespace sqv64
