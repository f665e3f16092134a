#include "metar/http_metar_download.h"

#include "metar/airport_code.h"
#include "metar/metar_download.h"
#include "metar/report_filing.h"

namespace sqv64 {
namespace {

constexpr std::string_view kScratchFile = "metar\\tmp.";

}  // namespace

std::string WeatherUrlOf(std::string_view base, std::string_view relative) {
  while (!base.empty() && base.back() == '/')
    base.remove_suffix(1);
  std::string url(base);
  url += '/';
  url += relative;
  return url;
}

HttpMetarDownload::HttpMetarDownload(WeatherFiles& files, WeatherState& state,
                                     platform::HttpDownloader& http,
                                     HttpMetarDownloadOptions options)
    : files_(files), state_(state), http_(http), options_(options) {}

void HttpMetarDownload::RecordOutcomesIn(
    WeatherHealth& health, std::function<std::chrono::system_clock::time_point()> wall_now) {
  health_ = &health;
  wall_now_ = std::move(wall_now);
}

template <typename Run>
void HttpMetarDownload::Recorded(RunKind kind, Run run) {
  last_error_.clear();
  cancelled_ = false;
  auto started = wall_now_ ? wall_now_() : std::chrono::system_clock::now();
  auto record = [&](int filed) {
    // A run cut short by the service's stop says nothing of the weather
    // server.
    if (health_ == nullptr || cancelled_)
      return;
    RunOutcome outcome;
    outcome.succeeded = last_error_.empty();
    outcome.error = last_error_;
    outcome.reports_filed = filed;
    health_->RecordRun(kind, started, outcome);
  };
  int filed = 0;
  try {
    filed = run();
  } catch (const std::exception& failure) {
    if (last_error_.empty())
      last_error_ = std::string("filing failed: ") + failure.what();
    record(filed);
    throw;
  }
  record(filed);
}

platform::HttpRequest HttpMetarDownload::RequestFor(const std::string& url,
                                                    const Validators& validators) const {
  const MetarSettings& settings = state_.settings;
  platform::HttpRequest request;
  request.url = url;
  request.if_modified_since = validators.last_modified;
  request.if_none_match = validators.etag;
  if (settings.proxy.method == FtpProxyMethod::kHttpProxyWithFtp && !settings.proxy.host.empty()) {
    request.proxy.host = settings.proxy.host;
    request.proxy.port = settings.proxy.port;
    request.proxy.user = settings.proxy.user;
    request.proxy.password = settings.proxy.password;
  }
  request.extra_ca_file = settings.weather_ca;
  request.connect_timeout = options_.connect_timeout;
  request.idle_timeout = options_.idle_timeout;
  request.max_body_bytes = options_.max_body_bytes;
  return request;
}

bool HttpMetarDownload::FetchIntoScratch(const std::string& url, const Validators& validators,
                                         Validators& received) {
  using namespace platform;
  Platform& platform = files_.platform();
  std::string scratch = files_.PathOf(kScratchFile);
  auto file =
      platform.OpenFile(scratch, FileAccess::kWrite, FileShare::kRead, FileCreation::kCreateAlways);
  if (file == nullptr) {
    last_error_ = "cannot create " + std::string(kScratchFile);
    return false;
  }
  HttpResult result = http_.Get(RequestFor(url, validators), *file);
  bool whole = result.outcome == HttpResult::Outcome::kCompleted;
  if (result.outcome == HttpResult::Outcome::kCancelled)
    cancelled_ = true;
  try {
    file->Close();
  } catch (const IoError& error) {
    result.error = error.what();
    whole = false;
  }
  file.reset();
  if (whole && result.status == 200) {
    received = {result.last_modified, result.etag};
    return true;
  }
  platform.DeleteFile(scratch);
  if (!whole)
    last_error_ = url + ": " + result.error;
  else if (result.status != 304 && result.status != 404)
    last_error_ = url + ": status " + std::to_string(result.status);
  return false;
}

void HttpMetarDownload::MetarData1() {
  Recorded(RunKind::kCycle, [this] {
    std::string url = WeatherUrlOf(state_.settings.weather_url,
                                   "cycles/" + CycleFileName(state_.last_cycle_hour));
    Validators received;
    if (!FetchIntoScratch(url, {}, received))
      return 0;
    return FileDownloadedReports(files_, state_.settings.download_type);
  });
}

void HttpMetarDownload::MetarData2() {
  Recorded(RunKind::kStation, [this] {
    int filed = 0;
    for (const std::string& code : state_.airport_list) {
      // Only letters and digits go into the URL's path.
      if (!IsAirportCode(code))
        continue;
      std::string url = WeatherUrlOf(state_.settings.weather_url, "stations/" + code + ".TXT");
      Validators received;
      if (!FetchIntoScratch(url, validators_[code], received))
        continue;
      validators_[code] = received;
      filed += FileDownloadedReports(files_, state_.settings.download_type);
    }
    return filed;
  });
}

}  // namespace sqv64
