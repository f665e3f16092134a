// Moments as the status document writes them: UTC in ISO 8601 to the
// second, "2026-12-10T12:49:07Z".
//
// Pure; may run on any thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace sqv64 {

std::string UtcText(std::chrono::system_clock::time_point moment);

// The moment a UtcText names; nullopt for any other text.
std::optional<std::chrono::system_clock::time_point> ParseUtcText(std::string_view text);

}  // namespace sqv64
