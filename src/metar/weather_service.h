// The METAR weather service as the service object sees it: the event thread
// with the scheduler's timers and the network probe, the FTP client, the
// settings, the airport list and the wanted stations, and the entry points
// of the clients' weather commands.
//
// Thread safety: Start and Stop run on the service thread; every other
// member may be called from any client connection thread at once. Work on
// the weather folder's files is coordinated inside the process, so a client
// never receives a half-rewritten file.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "metar/download_scheduler.h"
#include "metar/download_transport.h"
#include "metar/ftp_client.h"
#include "metar/http_metar_download.h"
#include "metar/last_report.h"
#include "metar/metar_download.h"
#include "metar/network_probe.h"
#include "metar/timer_clock.h"
#include "metar/weather_files.h"
#include "metar/weather_health.h"
#include "metar/weather_state.h"
#include "platform/http_download.h"
#include "storage/event_log.h"
#include "storage/working_folder.h"

namespace sqv64 {

// What the service takes from its surroundings; every member left empty
// takes the machine's own (steady clock, platform UTC clock, a generator
// seeded at construction, the platform's own addresses, 60 s time-outs,
// the platform's HTTP downloader). The FTP time-outs serve HTTP as well:
// `connect` for connecting, `transfer` for a response that brings nothing.
struct WeatherServiceOptions {
  TimerClock* timer_clock = nullptr;  // must outlive the service
  std::function<platform::UtcTime()> utc_now;
  std::function<int(int low, int high)> random;
  NetworkProbe::AddressSource own_addresses;
  FtpTimeouts ftp_timeouts;
  std::chrono::milliseconds session_pause{100};
  platform::HttpDownloader* http = nullptr;  // must outlive the service
  // The wall clock that stamps runs for the status.
  std::function<std::chrono::system_clock::time_point()> wall_now;
  // Where the changes of the collection's health are logged; the service's
  // own log of the working folder when null. Must outlive the service.
  EventLog* event_log = nullptr;
};

// The weather side as the status command shows it.
struct WeatherServiceStatus {
  std::int16_t download_type = 0;
  std::string transport;
  std::vector<std::string> airports;  // upper case, in the folder's order
  WeatherHealthSnapshot health;
  // The next timer tick that may start a run: "cycle", "station", or
  // "settings" (the download mode is being chosen); empty when none.
  std::string next_run_kind;
  std::optional<std::chrono::system_clock::time_point> next_run;
  // The last report in each airport's file, in the order of `airports`.
  std::vector<std::optional<FiledReport>> last_reports;
};

class WeatherService {
 public:
  // The production wiring. `folder` must outlive the service.
  explicit WeatherService(const WorkingFolder& folder);
  WeatherService(const WorkingFolder& folder, WeatherServiceOptions options);
  ~WeatherService();
  WeatherService(const WeatherService&) = delete;
  WeatherService& operator=(const WeatherService&) = delete;

  // The last step of the service's start: settings timer on with 5000 ms,
  // download timers off. Starts the event thread on the first call.
  void Start();
  // Stops the timers and the event thread, cutting a download run short
  // (its FTP step or HTTP fetch fails at once). Returns once the thread has ended. Safe to
  // call twice; the service cannot be started again afterwards.
  void Stop();

  // "GetArpt": the reply bytes.
  std::string ListAirports();
  // "SetMIni" with a non-empty payload.
  void SaveMetarSettings(std::string_view payload);
  // "SetArpt" and "DelArpt" with a non-empty payload.
  void AddAirports(std::string_view payload);
  void RemoveAirports(std::string_view payload);
  // `OkChang` := true, settings timer on with 5000 ms, download timers off.
  void MarkSettingsChanged();
  // `OkChang` := true only ("DelArpt").
  void SetSettingsChanged();
  bool OkChang() const { return ok_chang_; }

  // A client's copy of a file inside the weather folder: its whole content,
  // read under the weather files' lock, or nullopt when it cannot be
  // opened. A read error throws platform::IoError.
  std::optional<std::string> ReadWeatherFile(const std::string& path);

  // The status: settings as the file holds them, the airports, the health
  // of the collection and the next run. Reads the weather folder.
  WeatherServiceStatus Status();

 private:
  std::unique_ptr<TimerClock> own_clock_;
  WeatherServiceOptions options_;
  std::unique_ptr<EventLog> own_log_;
  WeatherHealth health_;
  WeatherFiles files_;
  WeatherState state_;
  NetworkProbe probe_;
  FtpClient ftp_;
  MetarDownload download_;
  std::unique_ptr<platform::HttpDownloader> own_http_;
  platform::HttpDownloader& http_;
  HttpMetarDownload http_download_;
  DownloadTransport transport_;
  DownloadScheduler scheduler_;
  std::atomic<bool> ok_chang_{false};
  std::mutex lifecycle_mutex_;
  std::thread event_thread_;
  bool stopped_ = false;
};

}  // namespace sqv64
