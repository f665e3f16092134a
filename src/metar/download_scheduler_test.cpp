#include "metar/download_scheduler.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "metar/testing/weather_test_folder.h"
#include "platform/platform.h"

namespace sqv64 {
namespace {

using std::chrono::milliseconds;
using testing_support::WeatherTestFolder;

constexpr milliseconds kMinute{60000};

struct RecordedRun {
  std::string kind;
  milliseconds at;
  int last_cycle_hour;
  bool operator==(const RecordedRun&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RecordedRun& run) {
  return out << run.kind << "@" << run.at.count() << "(hour " << run.last_cycle_hour << ")";
}

class RecordingRuns : public DownloadRuns {
 public:
  RecordingRuns(ManualTimerClock& clock, WeatherState& state) : clock_(clock), state_(state) {}
  void MetarData1() override { Record("cycle"); }
  void MetarData2() override { Record("station"); }

  std::vector<RecordedRun> runs;
  // Runs inside each run, as if the run did it while blocking.
  std::function<void()> during_run;

 private:
  void Record(const std::string& kind) {
    runs.push_back({kind, clock_.Now(), state_.last_cycle_hour});
    if (during_run)
      during_run();
  }
  ManualTimerClock& clock_;
  WeatherState& state_;
};

class DownloadSchedulerTest : public ::testing::Test {
 protected:
  DownloadSchedulerTest() { scheduler_.Start(); }

  // UTC as the virtual clock moves, starting at `utc_start_` minutes past
  // midnight.
  platform::UtcTime Utc() {
    long minutes = utc_start_ + static_cast<long>(clock_.Now() / kMinute);
    return {2020, 9, 14, static_cast<int>(minutes / 60 % 24), static_cast<int>(minutes % 60)};
  }
  int Draw(int low, int high) {
    drawn_ranges_.insert({low, high});
    return draw_ ? draw_() : 7;
  }

  void RunUntil(milliseconds until) { scheduler_.event_loop().RunUntil(clock_, until); }
  void SetOnline(bool online) {
    addresses_ = online ? std::vector<std::string>{"192.0.2.10"} : std::vector<std::string>{};
  }
  void AddAirportFiles(int count) {
    for (int index = 0; index < count; ++index) {
      char name[32];
      std::snprintf(name, sizeof name, "metar/k%03d.txt", index);
      test_.Write(name, "");
    }
  }
  void SetDownloadType(int type) {
    test_.Write("metar/metar.ini", "Dwnld.Type=" + std::to_string(type));
  }
  // The names of the enabled timers among the three.
  std::string EnabledTimers() {
    EventLoop& loop = scheduler_.event_loop();
    std::string names;
    if (loop.Enabled(scheduler_.timer()))
      names += "Timer ";
    if (loop.Enabled(scheduler_.timer1()))
      names += "Timer1 ";
    if (loop.Enabled(scheduler_.timer2()))
      names += "Timer2 ";
    return names;
  }

  WeatherTestFolder test_;
  WeatherState state_;
  ManualTimerClock clock_;
  RecordingRuns runs_{clock_, state_};
  std::optional<std::vector<std::string>> addresses_ = std::vector<std::string>{"192.0.2.10"};
  NetworkProbe probe_{[this] { return addresses_; }};
  long utc_start_ = 10 * 60;
  std::function<int()> draw_;
  std::set<std::pair<int, int>> drawn_ranges_;
  std::vector<std::string> errors_;
  DownloadScheduler scheduler_{
      SchedulerDependencies{test_.files(), state_, runs_, probe_, clock_, [this] { return Utc(); },
                            [this](int low, int high) { return Draw(low, high); },
                            [this](const std::string& message) { errors_.push_back(message); }}};
};

struct ModeCase {
  int airports;
  int download_type;
  std::string enabled;  // after the settings run
  std::string runs;     // the kind of the runs that follow
};

void PrintTo(const ModeCase& mode, std::ostream* out) {
  *out << mode.airports << " airports, download type " << mode.download_type;
}

class DownloadModeTest : public DownloadSchedulerTest,
                         public ::testing::WithParamInterface<ModeCase> {};

TEST_P(DownloadModeTest, TheSettingsRunChoosesTheDownloadTimer) {
  const ModeCase& mode = GetParam();
  utc_start_ = 10 * 60 + 30;
  AddAirportFiles(mode.airports);
  SetDownloadType(mode.download_type);
  EXPECT_EQ(EnabledTimers(), "Timer ");
  RunUntil(milliseconds(5000));
  EXPECT_EQ(EnabledTimers(), mode.enabled);
  RunUntil(milliseconds(10000));
  if (mode.runs.empty()) {
    EXPECT_TRUE(runs_.runs.empty());
  } else {
    ASSERT_EQ(runs_.runs.size(), 1u);
    EXPECT_EQ(runs_.runs[0].kind, mode.runs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ModeTable, DownloadModeTest,
    ::testing::Values(ModeCase{0, 0, "", ""}, ModeCase{0, 1, "Timer1 ", "cycle"},
                      ModeCase{1, 0, "Timer2 ", "station"}, ModeCase{300, 0, "Timer2 ", "station"},
                      ModeCase{300, 1, "Timer1 ", "cycle"}, ModeCase{301, 0, "Timer1 ", "cycle"},
                      ModeCase{301, 2, "Timer1 ", "cycle"}, ModeCase{5, 2, "Timer2 ", "station"}));

TEST_F(DownloadSchedulerTest, StationRunsComeFiveSecondsAfterTheSettingsRunThenEvery15Minutes) {
  AddAirportFiles(2);
  utc_start_ = 10 * 60 + 30;
  RunUntil(milliseconds(1810000));
  EXPECT_EQ(runs_.runs, (std::vector<RecordedRun>{{"station", milliseconds(10000), -1},
                                                  {"station", milliseconds(910000), -1},
                                                  {"station", milliseconds(1810000), -1}}));
  EXPECT_EQ(state_.airport_list.size(), 2u);
}

TEST_F(DownloadSchedulerTest, OneCycleRunPerUtcHourAtTheFirstTickPastTheDrawnMinute) {
  SetDownloadType(1);
  utc_start_ = 10 * 60 + 30;
  RunUntil(milliseconds(2 * 3600 * 1000));
  // 10:30:10 at once, then 11:07:00 and 12:07:00 with every draw 7.
  EXPECT_EQ(runs_.runs, (std::vector<RecordedRun>{{"cycle", milliseconds(10000), 10},
                                                  {"cycle", 37 * kMinute, 11},
                                                  {"cycle", 97 * kMinute, 12}}));
  EXPECT_EQ(drawn_ranges_, (std::set<std::pair<int, int>>{{5, 9}}));
}

TEST_F(DownloadSchedulerTest, TheThresholdIsDrawnAnewOnEveryTick) {
  SetDownloadType(1);
  utc_start_ = 10 * 60 + 2;
  // Every draw is 9 except the one of the tick at 10:06:00.
  draw_ = [this] { return clock_.Now() == 4 * kMinute ? 5 : 9; };
  RunUntil(milliseconds(3600 * 1000));
  ASSERT_FALSE(runs_.runs.empty());
  EXPECT_EQ(runs_.runs[0], (RecordedRun{"cycle", 4 * kMinute, 10}));
}

TEST_F(DownloadSchedulerTest, ASettingsRunBeforeMinuteFiveWaitsForTheThreshold) {
  SetDownloadType(1);
  utc_start_ = 10 * 60 + 2;
  draw_ = [] { return 9; };
  RunUntil(milliseconds(3600 * 1000));
  ASSERT_EQ(runs_.runs.size(), 1u);
  EXPECT_EQ(runs_.runs[0], (RecordedRun{"cycle", 7 * kMinute, 10}));
}

TEST_F(DownloadSchedulerTest, OfflineTicksDoNothingAndComingOnlineChoosesTheModeAgain) {
  AddAirportFiles(1);
  RunUntil(milliseconds(5000));
  EXPECT_EQ(EnabledTimers(), "Timer2 ");
  SetOnline(false);
  RunUntil(milliseconds(21500));
  EXPECT_TRUE(runs_.runs.empty());
  EXPECT_EQ(EnabledTimers(), "Timer2 ");
  EXPECT_EQ(scheduler_.event_loop().Period(scheduler_.timer2()), milliseconds(5000));
  SetOnline(true);
  // The watch sees the host online at 22 s; the settings run follows 5 s
  // later, the first station tick 5 s after that.
  RunUntil(milliseconds(22000));
  EXPECT_EQ(EnabledTimers(), "Timer ");
  RunUntil(milliseconds(932000));
  EXPECT_EQ(runs_.runs, (std::vector<RecordedRun>{{"station", milliseconds(32000), -1},
                                                  {"station", milliseconds(932000), -1}}));
}

TEST_F(DownloadSchedulerTest, TheSettingsTimerWaitsForTheHostToComeOnline) {
  AddAirportFiles(1);
  SetOnline(false);
  RunUntil(milliseconds(60000));
  EXPECT_EQ(EnabledTimers(), "Timer ");
  SetOnline(true);
  RunUntil(milliseconds(70000));
  ASSERT_EQ(runs_.runs.size(), 1u);
  EXPECT_EQ(runs_.runs[0].at, milliseconds(70000));
}

TEST_F(DownloadSchedulerTest, ComingBackOnlineMakesTheCycleRunOfTheHourOnceMore) {
  SetDownloadType(1);
  utc_start_ = 10 * 60 + 30;
  RunUntil(milliseconds(60000));
  SetOnline(false);
  RunUntil(milliseconds(119500));
  SetOnline(true);
  RunUntil(milliseconds(3600 * 1000));
  ASSERT_GE(runs_.runs.size(), 2u);
  EXPECT_EQ(runs_.runs[0], (RecordedRun{"cycle", milliseconds(10000), 10}));
  EXPECT_EQ(runs_.runs[1], (RecordedRun{"cycle", milliseconds(130000), 10}));
}

TEST_F(DownloadSchedulerTest, AddingAnAirportLeadsToStationRunsFiveSecondsAfterTheSettingsRun) {
  RunUntil(milliseconds(60000));
  EXPECT_EQ(EnabledTimers(), "");
  AddAirportFiles(1);
  scheduler_.MarkSettingsChanged();
  RunUntil(milliseconds(70000));
  ASSERT_EQ(runs_.runs.size(), 1u);
  EXPECT_EQ(runs_.runs[0], (RecordedRun{"station", milliseconds(70000), -1}));
}

TEST_F(DownloadSchedulerTest, ChangesArrivingDuringARunTakeEffectWhenItEnds) {
  AddAirportFiles(1);
  std::string enabled_during_run;
  runs_.during_run = [&] {
    scheduler_.MarkSettingsChanged();
    clock_.Advance(milliseconds(30000));
    enabled_during_run = EnabledTimers();
  };
  RunUntil(milliseconds(10000));
  EXPECT_EQ(enabled_during_run, "Timer2 ");
  RunUntil(milliseconds(40000));
  EXPECT_EQ(EnabledTimers(), "Timer ");
  runs_.during_run = nullptr;
  RunUntil(milliseconds(55000));
  ASSERT_EQ(runs_.runs.size(), 2u);
  EXPECT_EQ(runs_.runs[1].at, milliseconds(50000));
}

TEST_F(DownloadSchedulerTest, AnErrorEscapingARunIsReportedAndTheScheduleGoesOn) {
  AddAirportFiles(1);
  runs_.during_run = [&] {
    if (runs_.runs.size() == 1)
      throw platform::IoError("I/O error 5");
  };
  RunUntil(milliseconds(910000));
  EXPECT_EQ(errors_, (std::vector<std::string>{"I/O error 5"}));
  ASSERT_EQ(runs_.runs.size(), 2u);
  EXPECT_EQ(runs_.runs[1].at, milliseconds(910000));
}

}  // namespace
}  // namespace sqv64
