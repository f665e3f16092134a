// The download runs of the transport the settings choose: over HTTP when
// "weather.url=" is set, over FTP otherwise. The choice is made anew at
// every run, so a reloaded settings file takes effect with the next run.
//
// Thread safety: none; the event thread's, like the runs themselves.
#pragma once

#include <string_view>

#include "metar/download_runs.h"
#include "metar/metar_settings.h"
#include "metar/weather_state.h"

namespace sqv64 {

class DownloadTransport final : public DownloadRuns {
 public:
  // All references must outlive the object.
  DownloadTransport(const WeatherState& state, DownloadRuns& ftp, DownloadRuns& http)
      : state_(state), ftp_(ftp), http_(http) {}

  void MetarData1() override { Chosen().MetarData1(); }
  void MetarData2() override { Chosen().MetarData2(); }

  // "ftp" or "http", as the next run would choose.
  std::string_view Name() const { return WeatherTransportName(state_.settings); }

 private:
  DownloadRuns& Chosen() { return state_.settings.weather_url.empty() ? ftp_ : http_; }

  const WeatherState& state_;
  DownloadRuns& ftp_;
  DownloadRuns& http_;
};

}  // namespace sqv64
