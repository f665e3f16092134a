// The download scheduler: three timers and the network probe, all served by
// one event loop.
//   `Timer` (settings, 5 s) rereads the settings and the airport list once
//     the host is online, then hands over to one download timer: none for no
//     airports, `Timer2` for 1 to 300 airports, `Timer1` for more or for
//     download type 1.
//   `Timer1` (cycle, 5 s) starts one cycle run per UTC hour, at the first
//     tick whose minute reaches a threshold drawn from 5 to 9 on every tick.
//   `Timer2` (station, 5 s, then 15 min) starts a station run at each tick.
//   The probe's watch (1 s) checks the host; when it comes online, or when
//     settings or airports change, the choice is made again from `Timer`.
// Every tick first forces a probe check and does nothing while offline. At
// most one of the three timers is enabled at a time.
//
// Thread safety: MarkSettingsChanged and Start may be called from any
// thread; their effect is applied on the loop's thread between handlers. The
// handlers themselves run on the loop's thread only.
#pragma once

#include <functional>

#include "metar/download_runs.h"
#include "metar/event_loop.h"
#include "metar/network_probe.h"
#include "metar/weather_files.h"
#include "metar/weather_state.h"
#include "platform/platform.h"

namespace sqv64 {

inline constexpr Milliseconds kSettingsPeriod{5000};
inline constexpr Milliseconds kStationPeriod{900000};
inline constexpr Milliseconds kWatchPeriod{1000};

struct SchedulerDependencies {
  WeatherFiles& files;
  WeatherState& state;
  DownloadRuns& runs;
  NetworkProbe& probe;
  TimerClock& clock;
  std::function<platform::UtcTime()> utc_now;
  // A random whole number from `low` to `high`, both included.
  std::function<int(int low, int high)> random;
  // Where the messages of errors escaping a handler go.
  EventLoop::ErrorSink errors;
};

class DownloadScheduler {
 public:
  // Every dependency must outlive the scheduler. From here on `Timer` is
  // enabled with its 5000 ms period; the loop runs nothing until someone
  // runs it.
  explicit DownloadScheduler(SchedulerDependencies dependencies);

  // The service's start: settings timer on with 5000 ms, download timers
  // off.
  void Start();
  // A client changed the settings or the airports: the same as Start.
  void MarkSettingsChanged();

  // The handlers, run by the loop.
  void TimerTimer();
  void Timer1Timer();
  void Timer2Timer();
  void IdIPWatchStatusChanged();

  EventLoop& event_loop() { return loop_; }
  EventLoop::TimerId timer() const { return timer_; }
  EventLoop::TimerId timer1() const { return timer1_; }
  EventLoop::TimerId timer2() const { return timer2_; }

 private:
  // Runs a probe check now, raising the status-changed event on a change;
  // true when the host is online.
  bool ForceCheck();
  void WatchTick();
  // Raises the status-changed event; a change found while its handler runs
  // raises it once more afterwards instead of inside it.
  void RaiseStatusChanged();
  void RestartSettingsTimer();

  SchedulerDependencies dependencies_;
  EventLoop loop_;
  EventLoop::TimerId timer_;
  EventLoop::TimerId timer1_;
  EventLoop::TimerId timer2_;
  bool in_status_changed_ = false;
  bool status_changed_again_ = false;
};

}  // namespace sqv64
