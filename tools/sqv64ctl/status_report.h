// The "GetStatus" document as sqv64ctl shows it to a person: a short table
// with what is wrong first and times in local time, and whether the
// weather collection is failing (its last run failed while airports are
// listed), which sets the exit status of "status".
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace sqv64::ctl {

struct StatusSummary {
  std::string table;  // UTF-8, one line each, ending with a line end
  bool weather_failing = false;
};

// Formats a moment for a person: local time when empty.
using MomentFormat = std::function<std::string(std::chrono::system_clock::time_point)>;

// nullopt with `error` set when `document` is not a status document.
std::optional<StatusSummary> ReadStatus(const std::string& document, std::string& error,
                                        const MomentFormat& format = {});

// "2026-12-10 14:49:07" in the machine's local time.
std::string LocalMoment(std::chrono::system_clock::time_point moment);

}  // namespace sqv64::ctl
