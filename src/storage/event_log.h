// The service's event log "log.txt" in the working folder: one CR LF line per
// start, stop and logged data-file command, never truncated or read.
//
// Thread safety: lines written by this process are serialised, so that no
// line is lost because another connection was writing at that moment.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "storage/working_folder.h"

namespace sqv64 {

class EventLog {
 public:
  explicit EventLog(const WorkingFolder& folder) : folder_(folder) {}

  // Appends the local date (padded to 10), a space and `message`. A log that
  // cannot be opened drops the line silently; an error while writing throws
  // platform::IoError.
  void WriteLog(std::string_view message);

  // Logs a client command: the time field, a space, `command_text` padded to
  // 10, " (", `client_name`, ")". Bytes below 0x20 in either text are
  // written as "?".
  void LogCommand(std::string_view command_text, std::string_view client_name);

  // The local time of day, padded on the left to 8 characters.
  std::string TimeField();

 private:
  const WorkingFolder& folder_;
  std::mutex mutex_;
};

// `text` followed by spaces up to `width` bytes; longer texts stay as they are.
std::string PadRight(std::string_view text, std::size_t width);
// Spaces up to `width` bytes, then `text`.
std::string PadLeft(std::string_view text, std::size_t width);

}  // namespace sqv64
