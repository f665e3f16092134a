#include "metar/metar_download.h"

#include <algorithm>
#include <thread>

#include "metar/report_filing.h"

namespace sqv64 {
namespace {

constexpr std::string_view kScratchFile = "metar\\tmp.";

}  // namespace

std::string CycleFileName(int last_cycle_hour) {
  int hour = last_cycle_hour == 0 ? 22 : last_cycle_hour == 1 ? 23 : last_cycle_hour - 2;
  std::string digits = std::to_string(hour);
  if (digits.size() == 1)
    digits.insert(0, "0");
  return digits + "Z.TXT";
}

std::string ListedStationCode(const std::string& line) {
  if (line.size() < 8)
    return {};
  return line.substr(line.size() - 8, 4);
}

MetarDownload::MetarDownload(WeatherFiles& files, WeatherState& state, FtpClient& ftp,
                             Random random, MetarDownloadOptions options)
    : files_(files), state_(state), ftp_(ftp), random_(std::move(random)), options_(options) {}

void MetarDownload::RecordOutcomesIn(
    WeatherHealth& health, std::function<std::chrono::system_clock::time_point()> wall_now) {
  health_ = &health;
  wall_now_ = std::move(wall_now);
}

void MetarDownload::FtpPropetr() {
  FtpSessionSettings session;
  session.host = state_.settings.ftp_host;
  session.user = "Anonymous";
  session.password.clear();
  session.port = state_.settings.ftp_port;
  session.timeouts = options_.timeouts;
  session.client_name = std::to_string(random_(1000, 4999));
  session.proxy = state_.settings.proxy;
  ftp_.Configure(session);
  if (options_.session_pause.count() > 0)
    std::this_thread::sleep_for(options_.session_pause);
}

template <typename Step>
void MetarDownload::Try(Step step) {
  try {
    step();
  } catch (const std::exception& failure) {
    if (!first_error_)
      first_error_ = failure.what();
  }
}

template <typename Run>
void MetarDownload::Recorded(RunKind kind, Run run) {
  first_error_.reset();
  auto started = wall_now_ ? wall_now_() : std::chrono::system_clock::now();
  auto record = [&](int filed) {
    // A run cut short by the service's stop says nothing of the weather
    // server.
    if (health_ == nullptr || ftp_.Cancelled())
      return;
    RunOutcome outcome;
    outcome.succeeded = !first_error_;
    outcome.error = first_error_.value_or("");
    outcome.reports_filed = filed;
    health_->RecordRun(kind, started, outcome);
  };
  int filed = 0;
  try {
    filed = run();
  } catch (const std::exception& failure) {
    if (!first_error_)
      first_error_ = std::string("filing failed: ") + failure.what();
    record(filed);
    throw;
  }
  record(filed);
}

void MetarDownload::ConnectWhenClosed() {
  if (ftp_.Connected())
    return;
  FtpPropetr();
  Try([&] { ftp_.Connect(); });
}

void MetarDownload::MetarData1() {
  Recorded(RunKind::kCycle, [this] { return CycleRun(); });
}

void MetarDownload::MetarData2() {
  Recorded(RunKind::kStation, [this] { return StationRun(); });
}

int MetarDownload::CycleRun() {
  ConnectWhenClosed();
  Try([&] { ftp_.ChangeDirectory(std::string(kCycleDirectory)); });
  std::string remote_name = CycleFileName(state_.last_cycle_hour);
  platform::Platform& platform = files_.platform();
  std::string scratch = files_.PathOf(kScratchFile);
  if (platform.FileExists(scratch))
    platform.DeleteFile(scratch);
  if (!ftp_.Connected()) {
    if (!first_error_)
      first_error_ = "the connection to the weather server was lost";
    return 0;
  }
  Try([&] { ftp_.Get(remote_name, scratch); });
  if (ftp_.Connected())
    ftp_.Quit();
  return FileDownloadedReports(files_, state_.settings.download_type);
}

int MetarDownload::StationRun() {
  wanted_stations_.clear();
  ConnectWhenClosed();
  Try([&] { ftp_.ChangeDirectory(std::string(kStationDirectory)); });
  // A listing that fails leaves the last one that succeeded.
  Try([&] { ftp_.List(); });
  for (const std::string& line : ftp_.LastListing()) {
    std::string code = ListedStationCode(line);
    if (code.empty())
      continue;
    const AirportList& airports = state_.airport_list;
    if (std::find(airports.begin(), airports.end(), code) != airports.end())
      wanted_stations_.push_back(code);
  }
  if (wanted_stations_.empty())
    return 0;

  platform::Platform& platform = files_.platform();
  std::string scratch = files_.PathOf(kScratchFile);
  int filed = 0;
  for (const std::string& code : wanted_stations_) {
    if (platform.FileExists(scratch))
      platform.DeleteFile(scratch);
    if (ftp_.Connected())
      Try([&] { ftp_.Get(code + ".TXT", scratch); });
    else if (!first_error_)
      first_error_ = "the connection to the weather server was lost";
    filed += FileDownloadedReports(files_, state_.settings.download_type);
  }
  if (ftp_.Connected())
    ftp_.Quit();
  return filed;
}

}  // namespace sqv64
