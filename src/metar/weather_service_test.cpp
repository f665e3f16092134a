#include "metar/weather_service.h"
#include "metar/testing/advance_until.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  auto started = std::chrono::steady_clock::now();
  service.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  service.MarkSettingsChanged();
  EXPECT_TRUE(service.OkChang());
}

TEST_F(WeatherServiceTest, AStoppedServiceDoesNotStartAgain) {
  ScriptedFtpPeer peer;
  test_.Write("metar/metar.ini",
              "ftp.host=127.0.0.1\r\nftp.port=" + std::to_string(peer.port()) + "\r\n");
  test_.Write("metar/uuee.txt", "");
  WeatherService service(test_.folder(), Options());
  service.Start();
  service.Stop();
  service.Start();
  service.MarkSettingsChanged();
  // A running service connects 10 s on (settings run, then station run; see
  // StopCutsADownloadRunShortInsteadOfWaitingForItsTimeOut); give this one
  // five minutes of its clock, a second at a time, with a moment for the
  // event thread after each.
  for (int second = 0; second < 300; ++second) {
    clock_.Advance(milliseconds(1000));
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(peer.Connections(), 0);
  service.Stop();
}

// How many times `command` appears among the commands the peer received.
int CountOf(ScriptedFtpPeer& peer, const std::string& command) {
  std::vector<std::string> commands = peer.Commands();
  return static_cast<int>(std::count(commands.begin(), commands.end(), command));
}

TEST_F(WeatherServiceTest, AStationRunReconnectsAfterTheServerDroppedTheOpenConnection) {
  ScriptedFtpPeer peer;
  test_.Write("metar/metar.ini",
              "ftp.host=127.0.0.1\r\nftp.port=" + std::to_string(peer.port()) + "\r\n");
  test_.Write("metar/uuee.txt", "");
  // The first run finds no wanted station and leaves the connection open.
  peer.SetListing("type=file;size=60; KJFK.TXT\r\n");
  WeatherService service(test_.folder(), Options());
  service.Start();
  ASSERT_TRUE(AdvanceUntil(clock_, milliseconds(100), [&] { return CountOf(peer, "MLSD") == 1; }));
  EXPECT_EQ(CountOf(peer, "QUIT"), 0);

  // The weather server drops it; the very next run, 15 minutes on, logs in
  // anew (a run that used the dead connection would fail, and only the run
  // after it would bring the report).
  peer.DropConnections();
  const Milliseconds dropped = clock_.Now();
  peer.SetListing("type=file;size=60; UUEE.TXT\r\n");
  peer.SetFile("UUEE.TXT", "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK\n\n");
  EXPECT_TRUE(AdvanceUntil(clock_, milliseconds(1000),
                           [&] {
                             return test_.Read("metar/uuee.txt") ==
                                    "2020/09/14 08:00\r\nUUEE 140800Z 18003MPS CAVOK\r\n";
                           }))
      << "commands: " << testing::PrintToString(peer.Commands());
  EXPECT_LT(clock_.Now() - dropped, std::chrono::minutes(20));
  EXPECT_EQ(peer.Connections(), 2);
  EXPECT_EQ(CountOf(peer, "USER Anonymous"), 2);
  service.Stop();
}

TEST_F(WeatherServiceTest, DelArptLeavesTheDownloadTimersAlone) {
  ScriptedFtpPeer peer;
  test_.Write("metar/metar.ini",
              "ftp.host=127.0.0.1\r\nftp.port=" + std::to_string(peer.port()) + "\r\n");
  test_.Write("metar/uuee.txt", "");
  test_.Write("metar/uudd.txt", "");
  peer.SetListing("type=file;size=60; UUEE.TXT\r\ntype=file;size=60; UUDD.TXT\r\n");
  peer.SetFile("UUEE.TXT", "2020/09/14 08:00\nUUEE 140800Z\n\n");
  peer.SetFile("UUDD.TXT", "2020/09/14 08:00\nUUDD 140800Z\n\n");
  WeatherService service(test_.folder(), Options());
  service.Start();
  // Small steps: the clock moves on while a run goes, and the next run is
  // counted from the start of this one.
  ASSERT_TRUE(AdvanceUntil(clock_, milliseconds(100), [&] { return CountOf(peer, "QUIT") == 1; }));

  // 14 minutes on, a client removes UUDD the way "DelArpt" does. The next
  // run stays about a minute away; a restarted settings timer would bring
  // one 10 s later (settings run, then station run).
  clock_.Advance(std::chrono::minutes(14));
  const Milliseconds removed = clock_.Now();
  service.RemoveAirports("UUDD");
  service.SetSettingsChanged();
  EXPECT_FALSE(test_.Exists("metar/uudd.txt"));
  ASSERT_TRUE(AdvanceUntil(clock_, milliseconds(100), [&] { return CountOf(peer, "QUIT") == 2; }));
  EXPECT_GE(clock_.Now() - removed, std::chrono::seconds(30));
  EXPECT_EQ(CountOf(peer, "RETR UUEE.TXT"), 2);
  // The run may still fetch UUDD (the airport list is rebuilt by settings
  // runs only), but files nothing for an airport without a file.
  EXPECT_FALSE(test_.Exists("metar/uudd.txt"));
  service.Stop();
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
