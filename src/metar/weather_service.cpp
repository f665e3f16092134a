#include "metar/weather_service.h"

#include <random>

#include "metar/airport_commands.h"
#include "metar/metar_settings.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

WeatherServiceOptions WithDefaults(const WorkingFolder& folder, WeatherServiceOptions options,
                                   TimerClock& steady_clock) {
  platform::Platform& platform = folder.platform();
  if (options.timer_clock == nullptr)
    options.timer_clock = &steady_clock;
  if (!options.utc_now)
    options.utc_now = [&platform] { return platform.CurrentUtcTime(); };
  if (!options.random) {
    auto generator = std::make_shared<std::mt19937>(std::random_device{}());
    options.random = [generator](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(*generator);
    };
  }
  if (!options.own_addresses)
    options.own_addresses = [&platform] { return platform.OwnIPv4Addresses(); };
  if (!options.wall_now)
    options.wall_now = [] { return std::chrono::system_clock::now(); };
  return options;
}

}  // namespace

WeatherService::WeatherService(const WorkingFolder& folder)
    : WeatherService(folder, WeatherServiceOptions{}) {}

WeatherService::WeatherService(const WorkingFolder& folder, WeatherServiceOptions options)
    : own_clock_(std::make_unique<SteadyTimerClock>()),
      options_(WithDefaults(folder, std::move(options), *own_clock_)),
      own_log_(options_.event_log ? nullptr : std::make_unique<EventLog>(folder)),
      health_([this](const std::string& text) {
        EventLog& log = options_.event_log ? *options_.event_log : *own_log_;
        // A log that cannot be written must not stop the collection.
        try {
          log.WriteLog(log.TimeField() + " " + text);
        } catch (const platform::IoError&) {
        }
      }),
      files_(folder),
      probe_(options_.own_addresses),
      ftp_(folder.platform()),
      download_(files_, state_, ftp_, options_.random,
                MetarDownloadOptions{options_.ftp_timeouts, options_.session_pause}),
      own_http_(options_.http == nullptr ? platform::CreateHttpDownloader() : nullptr),
      http_(options_.http == nullptr ? *own_http_ : *options_.http),
      http_download_(
          files_, state_, http_,
          HttpMetarDownloadOptions{options_.ftp_timeouts.connect, options_.ftp_timeouts.transfer}),
      transport_(state_, download_, http_download_),
      scheduler_(SchedulerDependencies{files_, state_, transport_, probe_, *options_.timer_clock,
                                       options_.utc_now, options_.random,
                                       [&folder](const std::string& message) {
                                         folder.platform().WriteSystemEventLog(message);
                                       }}) {
  download_.RecordOutcomesIn(health_, options_.wall_now);
  http_download_.RecordOutcomesIn(health_, options_.wall_now);
}

WeatherService::~WeatherService() {
  Stop();
}

void WeatherService::Start() {
  std::lock_guard<std::mutex> lock(lifecycle_mutex_);
  if (stopped_)
    return;
  scheduler_.Start();
  if (!event_thread_.joinable())
    event_thread_ = std::thread([this] { scheduler_.event_loop().Run(); });
}

void WeatherService::Stop() {
  std::lock_guard<std::mutex> lock(lifecycle_mutex_);
  if (stopped_)
    return;
  stopped_ = true;
  scheduler_.event_loop().Stop();
  ftp_.Cancel();
  http_.Cancel();
  if (event_thread_.joinable())
    event_thread_.join();
}

std::string WeatherService::ListAirports() {
  return sqv64::ListAirports(files_);
}

void WeatherService::SaveMetarSettings(std::string_view payload) {
  sqv64::SaveMetarSettings(files_, payload);
}

void WeatherService::AddAirports(std::string_view payload) {
  sqv64::AddAirports(files_, payload);
}

void WeatherService::RemoveAirports(std::string_view payload) {
  sqv64::RemoveAirports(files_, payload);
}

void WeatherService::MarkSettingsChanged() {
  ok_chang_ = true;
  scheduler_.MarkSettingsChanged();
}

void WeatherService::SetSettingsChanged() {
  ok_chang_ = true;
}

std::optional<std::string> WeatherService::ReadWeatherFile(const std::string& path) {
  return files_.CopyOf(path);
}

WeatherServiceStatus WeatherService::Status() {
  using std::chrono::system_clock;
  WeatherServiceStatus status;
  MetarSettings settings;
  LoadMetarSettings(files_, settings);
  status.download_type = settings.download_type;
  status.transport = WeatherTransportName(settings);
  std::string codes = sqv64::ListAirports(files_);
  for (std::size_t at = 0; at + 4 <= codes.size(); at += 4)
    status.airports.push_back(AsciiUpperCase(codes.substr(at, 4)));
  for (const std::string& code : status.airports)
    status.last_reports.push_back(LastFiledReport(files_, code));
  status.health = health_.Snapshot();

  // The loop's clock counts from its own origin; the wall clock says when
  // that is.
  system_clock::time_point wall = options_.wall_now();
  Milliseconds steady = options_.timer_clock->Now();
  auto wall_of = [&](Milliseconds due) {
    return wall + std::chrono::duration_cast<system_clock::duration>(
                      std::max(due - steady, Milliseconds(0)));
  };
  EventLoop& loop = scheduler_.event_loop();
  if (auto due = loop.DueOf(scheduler_.timer2())) {
    status.next_run_kind = "station";
    status.next_run = wall_of(*due);
  } else if (auto cycle_due = loop.DueOf(scheduler_.timer1())) {
    // One cycle run per UTC hour, from minute 5 on.
    status.next_run_kind = "cycle";
    system_clock::time_point hour = std::chrono::floor<std::chrono::hours>(wall);
    const std::optional<RunRecord>& last = status.health.last_cycle_run;
    if (last && std::chrono::floor<std::chrono::hours>(last->started) == hour)
      status.next_run = hour + std::chrono::minutes(65);
    else
      status.next_run = std::max(wall_of(*cycle_due), hour + std::chrono::minutes(5));
  } else if (auto settings_due = loop.DueOf(scheduler_.timer())) {
    status.next_run_kind = "settings";
    status.next_run = wall_of(*settings_due);
  }
  return status;
}

}  // namespace sqv64
