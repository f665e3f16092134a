// The weather side's state that the scheduler and the download runs share:
// the settings, the airport list and the hour of the last cycle run.
//
// Thread safety: none; only the event thread touches it.
#pragma once

#include <cstdint>

#include "metar/airport_list.h"
#include "metar/metar_settings.h"

namespace sqv64 {

struct WeatherState {
  MetarSettings settings;
  AirportList airport_list;
  // `LastCycleHour`: the UTC hour at which the last cycle run started, or -1
  // after a settings run.
  std::int16_t last_cycle_hour = -1;
};

}  // namespace sqv64
