// What the command handlers of one server share: the store's folder, the
// event log, the weather side, the access list and when the server started.
// Owned by the service object, which keeps it alive for as long as the TCP
// server runs.
#pragma once

#include <chrono>

#include "protocol/access_control.h"
#include "protocol/weather_commands.h"
#include "storage/event_log.h"
#include "storage/working_folder.h"

namespace sqv64 {

struct CommandContext {
  const WorkingFolder& folder;
  EventLog& log;
  WeatherCommands& weather;
  // Who may do what; everyone everything when null.
  AccessControl* access = nullptr;
  std::chrono::system_clock::time_point started{};
};

}  // namespace sqv64
