#include "metar/weather_service.h"
#include "metar/testing/advance_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "metar/testing/scripted_ftp_peer.h"
#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using std::chrono::milliseconds;
using testing_support::ScriptedFtpPeer;
using testing_support::WeatherTestFolder;

using testing_support::AdvanceUntil;
using testing_support::Eventually;

class WeatherServiceTest : public ::testing::Test {
 protected:
  WeatherServiceOptions Options() {
    WeatherServiceOptions options;
    options.timer_clock = &clock_;
    options.utc_now = [] { return platform::UtcTime{2020, 9, 14, 10, 30}; };
    options.random = [](int low, int) { return low; };
    options.own_addresses = [] { return std::vector<std::string>{"192.0.2.10"}; };
    options.session_pause = milliseconds(0);
    return options;
  }

  WeatherTestFolder test_;
  ManualTimerClock clock_;
};

TEST_F(WeatherServiceTest, StopCutsADownloadRunShortInsteadOfWaitingForItsTimeOut) {
  ScriptedFtpPeer silent;
  silent.SetGreeting("");
  test_.Write("metar/metar.ini",
              "ftp.host=127.0.0.1\r\nftp.port=" + std::to_string(silent.port()) + "\r\n");
  test_.Write("metar/uuee.txt", "");
  WeatherService service(test_.folder(), Options());  // 60 s time-outs
  service.Start();
  // The settings run at 5 s chooses station mode; the station run at 10 s
  // then waits for a greeting that never comes.
  ASSERT_TRUE(AdvanceUntil(clock_, milliseconds(1000), [&] { return silent.Connections() == 1; }));
  auto started = std::chrono::steady_clock::now();
  service.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  service.Stop();
}

TEST_F(WeatherServiceTest, StopCutsAnHttpFetchShortInsteadOfWaitingForItsTimeOut) {
  // A peer that answers none of the request's lines serves as a web server
  // that never answers.
  ScriptedFtpPeer silent;
  silent.SetGreeting("");
  for (const char* verb : {"GET", "HOST:", "ACCEPT:", "USER-AGENT:", "CONNECTION:", ""})
    silent.SetReply(verb, "");
  test_.Write("metar/metar.ini",
              "weather.url=http://127.0.0.1:" + std::to_string(silent.port()) + "/metar\r\n");
  test_.Write("metar/uuee.txt", "");
  WeatherService service(test_.folder(), Options());  // 60 s time-outs
  service.Start();
  ASSERT_TRUE(AdvanceUntil(clock_, milliseconds(1000), [&] { return silent.Connections() == 1; }));
  auto started = std::chrono::steady_clock::now();
  service.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(silent.Commands().front().substr(0, 25), "GET /metar/stations/UUEE.");
  EXPECT_EQ(test_.Read("metar/uuee.txt"), "");
}

TEST_F(WeatherServiceTest, ClientCommandsFromManyThreadsWhileTheEventThreadRuns) {
  // The station runs go to a peer that lists nothing.
  ScriptedFtpPeer peer;
  const std::string settings =
      "ftp.host=127.0.0.1\r\nftp.port=" + std::to_string(peer.port()) + "\r\n";
  test_.Write("metar/metar.ini", settings);
  test_.Write("metar/uuee.txt", "");
  WeatherService service(test_.folder(), Options());
  EXPECT_FALSE(service.OkChang());
  service.Start();
  std::atomic<bool> done{false};
  std::thread clock_mover([&] {
    while (!done) {
      clock_.Advance(milliseconds(1000));
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> clients;
  for (int index = 0; index < 4; ++index) {
    clients.emplace_back([&service, &settings, index] {
      std::string code = "K00" + std::to_string(index);
      for (int round = 0; round < 50; ++round) {
        service.AddAirports(code);
        service.MarkSettingsChanged();
        service.ListAirports();
        service.SaveMetarSettings(settings);
        service.RemoveAirports(code);
        service.SetSettingsChanged();
      }
    });
  }
  for (std::thread& client : clients)
    client.join();
  done = true;
  clock_mover.join();
  EXPECT_TRUE(service.OkChang());
  EXPECT_EQ(service.ListAirports(), "uuee");
  service.Stop();
  EXPECT_EQ(test_.Read("metar/metar.ini"), settings);
}

TEST_F(WeatherServiceTest, TheProductionWiringStartsAndStopsPromptly) {
  // The machine's clock: the first settings run would come after 5 s.
  WeatherService service(test_.folder());
  service.Start();
  std::this_thread::sleep_for(milliseconds(50));
  auto started = std::chrono::steady_clock::now();
  service.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  service.Start();  // not again after a stop
  service.MarkSettingsChanged();
  EXPECT_TRUE(service.OkChang());
}

TEST_F(WeatherServiceTest, ReadWeatherFileCopiesWholeFiles) {
  WeatherService service(test_.folder(), Options());
  test_.Write("metar/uuee.txt", "2020/09/14 08:00\r\nUUEE 140800Z\r\n");
  EXPECT_EQ(service.ReadWeatherFile(test_.folder().PathOf("metar\\uuee.txt")),
            "2020/09/14 08:00\r\nUUEE 140800Z\r\n");
  EXPECT_EQ(service.ReadWeatherFile(test_.folder().PathOf("metar\\none.txt")), std::nullopt);
}

}  // namespace
}  // namespace sqv64
