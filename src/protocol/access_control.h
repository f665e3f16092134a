// The access list in force, kept up to date with "access.txt" in the
// working folder without a restart, and the throttle that keeps refusals
// from flooding the event log.
//
// Current() looks at the file's stamp (size and time of last write) at most
// once a second and reads the file again only when the stamp changed; the
// connections in between share the list already read. No file means
// everyone may do everything; a file that is no plain file, cannot be read,
// is larger than kLargestAccessFile or holds a malformed line serves
// loopback clients only, and says so in the log once per change.
//
// Thread safety: every member may be called from any thread at once.
#pragma once

#include <asio/ip/address.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/access_list.h"
#include "storage/event_log.h"
#include "storage/working_folder.h"

namespace sqv64 {

inline constexpr std::string_view kAccessFileName = "access.txt";
inline constexpr std::size_t kLargestAccessFile = 64 * 1024;

class AccessControl {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `folder` and `log` must outlive the object. `clock` (the steady clock
  // when empty) paces the checks of the file and the refusal throttle.
  AccessControl(const WorkingFolder& folder, EventLog& log, Clock clock = {});

  // The list in force now.
  std::shared_ptr<const AccessList> Current();

  // The log line for a refusal of the client at `address` (`what` says
  // what was refused), or nullopt when a refusal of that address was logged
  // less than a minute ago. Writing the line is the caller's business.
  std::optional<std::string> RefusalLine(const asio::ip::address& address, std::string_view what);

 private:
  std::shared_ptr<const AccessList> Load(const std::optional<platform::EntryStamp>& stamp);

  const WorkingFolder& folder_;
  EventLog& log_;
  Clock clock_;

  std::mutex list_mutex_;
  std::shared_ptr<const AccessList> list_;
  std::optional<platform::EntryStamp> stamp_;
  std::optional<std::chrono::steady_clock::time_point> checked_;

  std::mutex refusal_mutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> refused_;
};

}  // namespace sqv64
