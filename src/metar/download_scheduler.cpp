#include "metar/download_scheduler.h"

#include "metar/airport_list.h"
#include "metar/metar_settings.h"

namespace sqv64 {
namespace {

// Set on the disabled settings timer before a cycle run; every path that
// enables that timer gives it 5000 ms again first.
constexpr Milliseconds kAfterCyclePeriod{60000};

}  // namespace

DownloadScheduler::DownloadScheduler(SchedulerDependencies dependencies)
    : dependencies_(std::move(dependencies)),
      loop_(dependencies_.clock, dependencies_.errors),
      timer_(loop_.AddTimer([this] { TimerTimer(); }, kSettingsPeriod, true)),
      timer1_(loop_.AddTimer([this] { Timer1Timer(); }, kSettingsPeriod, false)),
      timer2_(loop_.AddTimer([this] { Timer2Timer(); }, kSettingsPeriod, false)) {
  loop_.AddTimer([this] { WatchTick(); }, kWatchPeriod, true);
}

void DownloadScheduler::Start() {
  loop_.Post([this] { RestartSettingsTimer(); });
}

void DownloadScheduler::MarkSettingsChanged() {
  loop_.Post([this] { RestartSettingsTimer(); });
}

void DownloadScheduler::RestartSettingsTimer() {
  loop_.SetPeriod(timer_, kSettingsPeriod);
  loop_.SetEnabled(timer_, true);
  loop_.SetEnabled(timer1_, false);
  loop_.SetEnabled(timer2_, false);
}

bool DownloadScheduler::ForceCheck() {
  if (dependencies_.probe.Check())
    RaiseStatusChanged();
  return dependencies_.probe.online();
}

void DownloadScheduler::WatchTick() {
  if (dependencies_.probe.Check())
    RaiseStatusChanged();
}

void DownloadScheduler::RaiseStatusChanged() {
  if (in_status_changed_) {
    status_changed_again_ = true;
    return;
  }
  in_status_changed_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{in_status_changed_};
  do {
    status_changed_again_ = false;
    IdIPWatchStatusChanged();
  } while (status_changed_again_);
}

void DownloadScheduler::TimerTimer() {
  if (!ForceCheck())
    return;
  loop_.SetEnabled(timer_, false);
  WeatherState& state = dependencies_.state;
  LoadMetarSettings(dependencies_.files, state.settings);
  state.last_cycle_hour = -1;
  int airports = LoadAirportList(dependencies_.files, state.airport_list);
  if (airports > 0 || state.settings.download_type == 1) {
    loop_.SetPeriod(timer1_, kSettingsPeriod);
    loop_.SetEnabled(timer1_, true);
  } else if (airports < 0) {
    loop_.SetPeriod(timer2_, kSettingsPeriod);
    loop_.SetEnabled(timer2_, true);
  }
}

void DownloadScheduler::Timer1Timer() {
  if (!ForceCheck())
    return;
  platform::UtcTime now = dependencies_.utc_now();
  WeatherState& state = dependencies_.state;
  if (now.hour == state.last_cycle_hour)
    return;
  if (now.minute < dependencies_.random(5, 9))
    return;
  state.last_cycle_hour = static_cast<std::int16_t>(now.hour);
  loop_.SetPeriod(timer_, kAfterCyclePeriod);
  dependencies_.runs.MetarData1();
}

void DownloadScheduler::Timer2Timer() {
  if (!ForceCheck())
    return;
  loop_.SetPeriod(timer2_, kStationPeriod);
  dependencies_.runs.MetarData2();
}

void DownloadScheduler::IdIPWatchStatusChanged() {
  if (ForceCheck())
    RestartSettingsTimer();
}

}  // namespace sqv64
