// The two download runs from the weather-observation FTP service, each
// fetching into the scratch file "metar\tmp." and filing it at once:
//   MetarData1, the cycle run: the cycle file of two hours before
//     `LastCycleHour` ("12Z.TXT" at 14 UTC) from
//     "/data/observations/metar/cycles";
//   MetarData2, the station run: the listing of
//     "/data/observations/metar/stations", then "<code>.TXT" of every
//     airport of the list that the listing names.
// Every FTP step is tried on its own: a failure is swallowed and the run
// goes on with its next step; the first failure's text becomes the run's
// error in its recorded outcome. A station run that wants no station leaves an
// open connection open for the next run; the other runs quit at their end.
//
// Thread safety: none; the runs, and the state they read, belong to the
// event thread. Filing errors (platform::IoError) leave the run.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "metar/download_runs.h"
#include "metar/ftp_client.h"
#include "metar/weather_files.h"
#include "metar/weather_health.h"
#include "metar/weather_state.h"

namespace sqv64 {

inline constexpr std::string_view kCycleDirectory = "/data/observations/metar/cycles";
inline constexpr std::string_view kStationDirectory = "/data/observations/metar/stations";

struct MetarDownloadOptions {
  // The session's connect, read and transfer time-outs.
  FtpTimeouts timeouts;
  // The pause after the session is set up, before connecting.
  std::chrono::milliseconds session_pause{100};
};

// The cycle file fetched by a run whose `LastCycleHour` is `last_cycle_hour`:
// that hour minus two, wrapping at midnight, with two digits, then "Z.TXT".
std::string CycleFileName(int last_cycle_hour);

// The station code a listing line names: the four bytes before its last
// four, or empty for a line shorter than 8 bytes.
std::string ListedStationCode(const std::string& line);

class MetarDownload final : public DownloadRuns {
 public:
  // A random whole number from `low` to `high`, both included.
  using Random = std::function<int(int low, int high)>;

  // All references must outlive the object.
  MetarDownload(WeatherFiles& files, WeatherState& state, FtpClient& ftp, Random random,
                MetarDownloadOptions options);

  void MetarData1() override;
  void MetarData2() override;

  // From now on each run's outcome is recorded in `health` (which must
  // outlive the object), stamped by `wall_now`. Call before the runs start.
  void RecordOutcomesIn(WeatherHealth& health,
                        std::function<std::chrono::system_clock::time_point()> wall_now);

  // Sets the FTP session up for the next connection: the configured host
  // and port, user "Anonymous" with an empty password, passive mode, the
  // time-outs, a client name drawn from 1000 to 4999, and the proxy as the
  // settings last read it.
  void FtpPropetr();

  const WantedStations& wanted_stations() const { return wanted_stations_; }

 private:
  // Runs one step; its failure is noted and the next step's business.
  template <typename Step>
  void Try(Step step);
  void ConnectWhenClosed();
  // The runs themselves; each returns the number of reports filed.
  int CycleRun();
  int StationRun();
  // Runs `run` and records its outcome, a filing error that escapes it too.
  template <typename Run>
  void Recorded(RunKind kind, Run run);

  WeatherFiles& files_;
  WeatherState& state_;
  FtpClient& ftp_;
  Random random_;
  MetarDownloadOptions options_;
  WantedStations wanted_stations_;
  WeatherHealth* health_ = nullptr;
  std::function<std::chrono::system_clock::time_point()> wall_now_;
  std::optional<std::string> first_error_;  // of the run in progress
};

}  // namespace sqv64
