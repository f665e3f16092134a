#include "metar/weather_health.h"

#include <gtest/gtest.h>

#include <vector>

namespace sqv64 {
namespace {

RunOutcome Failed(const std::string& error) {
  return {false, error, 0};
}
RunOutcome Filed(int reports) {
  return {true, "", reports};
}

TEST(WeatherHealth, OnlyAChangeBetweenWorkingAndFailingIsLogged) {
  struct Case {
    RunKind kind;
    RunOutcome outcome;
    std::string logged;  // empty: nothing
  } cases[] = {
      {RunKind::kStation, Filed(3), ""},  // working from the start
      {RunKind::kStation, Failed("cannot connect to tgftp.nws.noaa.gov port 21: timed out"),
       "METAR station run failed: cannot connect to tgftp.nws.noaa.gov port 21: timed out"},
      {RunKind::kStation, Failed("cannot connect to tgftp.nws.noaa.gov port 21: timed out"), ""},
      {RunKind::kCycle, Failed("RETR refused: 550 No such file"), ""},
      {RunKind::kStation, Filed(3), "METAR station run: 3 reports filed"},
      {RunKind::kStation, Filed(0), ""},
      {RunKind::kCycle, Failed("x"), "METAR cycle run failed: x"},
      {RunKind::kCycle, Filed(1), "METAR cycle run: 1 report filed"},
  };
  std::vector<std::string> log;
  WeatherHealth health([&](const std::string& text) { log.push_back(text); });
  auto started = std::chrono::system_clock::time_point(std::chrono::hours(24));
  for (const Case& c : cases) {
    std::size_t before = log.size();
    health.RecordRun(c.kind, started, c.outcome);
    std::string got = log.size() > before ? log.back() : "";
    EXPECT_EQ(got, c.logged) << RunKindName(c.kind) << " " << c.outcome.error;
    EXPECT_LE(log.size(), before + 1);
  }
}

TEST(WeatherHealth, TheSnapshotKeepsTheLastRunOfEachKind) {
  WeatherHealth health({});
  using std::chrono::system_clock;
  auto at = [](int seconds) { return system_clock::time_point(std::chrono::seconds(seconds)); };
  EXPECT_FALSE(health.Snapshot().last_run);
  health.RecordRun(RunKind::kCycle, at(10), Failed("down"));
  health.RecordRun(RunKind::kStation, at(20), Filed(2));
  WeatherHealthSnapshot snapshot = health.Snapshot();
  ASSERT_TRUE(snapshot.last_cycle_run && snapshot.last_station_run && snapshot.last_run);
  EXPECT_EQ(snapshot.last_cycle_run->started, at(10));
  EXPECT_EQ(snapshot.last_cycle_run->outcome.error, "down");
  EXPECT_EQ(snapshot.last_station_run->outcome.reports_filed, 2);
  EXPECT_EQ(snapshot.last_run->kind, RunKind::kStation);
  EXPECT_TRUE(snapshot.last_run->outcome.succeeded);
}

}  // namespace
}  // namespace sqv64
