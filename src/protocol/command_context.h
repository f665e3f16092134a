// What the command handlers of one server share: the store's folder, the
// event log and the weather side. Owned by the service object, which keeps
// it alive for as long as the TCP server runs.
#pragma once

#include "protocol/weather_commands.h"
#include "storage/event_log.h"
#include "storage/working_folder.h"

namespace sqv64 {

struct CommandContext {
  const WorkingFolder& folder;
  EventLog& log;
  WeatherCommands& weather;
};

}  // namespace sqv64
