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
  return options;
}

}  // namespace

WeatherService::WeatherService(const WorkingFolder& folder)
    : WeatherService(folder, WeatherServiceOptions{}) {}

WeatherService::WeatherService(const WorkingFolder& folder, WeatherServiceOptions options)
    : folder_(folder),
      own_clock_(std::make_unique<SteadyTimerClock>()),
      options_(WithDefaults(folder, std::move(options), *own_clock_)),
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
                                       }}) {}

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

}  // namespace sqv64
