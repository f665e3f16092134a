// The two download runs over HTTP or HTTPS, for a site that sets
// "weather.url=": the same files as over FTP, from the same tree under that
// URL, into the same scratch file "metar\tmp.", filed the same way.
//   MetarData1, the cycle run: "<url>/cycles/<HH>Z.TXT" by the hour rule of
//     the FTP run (CycleFileName).
//   MetarData2, the station run: "<url>/stations/<CODE>.TXT" for every
//     airport of the list, in list order. There is no listing: a 404 means
//     the server has no file for that airport. Each request carries the
//     Last-Modified and ETag of the last good fetch of that station, so a
//     file that has not changed costs one small request (a 304) and files
//     nothing.
// Only a whole 200 response is filed; every other outcome leaves no scratch
// file and is retried by the next run. The proxy settings apply when the
// proxy method is fpcmHttpProxyWithFtp and a proxy host is set.
//
// Thread safety: none; the runs, and the state they read, belong to the
// event thread. Filing errors (platform::IoError) leave the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "metar/download_runs.h"
#include "metar/weather_files.h"
#include "metar/weather_health.h"
#include "metar/weather_state.h"
#include "platform/http_download.h"

namespace sqv64 {

struct HttpMetarDownloadOptions {
  std::chrono::milliseconds connect_timeout{60000};
  std::chrono::milliseconds idle_timeout{60000};
  std::uint64_t max_body_bytes = std::uint64_t{64} << 20;
};

// `base` (trailing "/" dropped) + "/" + `relative`.
std::string WeatherUrlOf(std::string_view base, std::string_view relative);

class HttpMetarDownload final : public DownloadRuns {
 public:
  // All references must outlive the object.
  HttpMetarDownload(WeatherFiles& files, WeatherState& state, platform::HttpDownloader& http,
                    HttpMetarDownloadOptions options);

  void MetarData1() override;
  void MetarData2() override;

  // From now on each run's outcome is recorded in `health` (which must
  // outlive the object), stamped by `wall_now`. Call before the runs start.
  void RecordOutcomesIn(WeatherHealth& health,
                        std::function<std::chrono::system_clock::time_point()> wall_now);

  // What went wrong in the last run's last failed fetch; empty when every
  // fetch of that run succeeded.
  const std::string& last_error() const { return last_error_; }

 private:
  struct Validators {
    std::string last_modified;
    std::string etag;
  };

  // Fetches `url` into the scratch file; true when a whole 200 response is
  // there to be filed. Otherwise the scratch file is gone.
  bool FetchIntoScratch(const std::string& url, const Validators& validators, Validators& received);
  platform::HttpRequest RequestFor(const std::string& url, const Validators& validators) const;
  // Runs `run` (which returns the number of reports filed) and records its
  // outcome, a filing error that escapes it too.
  template <typename Run>
  void Recorded(RunKind kind, Run run);

  WeatherFiles& files_;
  WeatherState& state_;
  platform::HttpDownloader& http_;
  HttpMetarDownloadOptions options_;
  // Per station code: the validators of its last good fetch.
  std::map<std::string, Validators> validators_;
  std::string last_error_;
  bool cancelled_ = false;  // the last fetch was cut short by Cancel
  WeatherHealth* health_ = nullptr;
  std::function<std::chrono::system_clock::time_point()> wall_now_;
};

}  // namespace sqv64
