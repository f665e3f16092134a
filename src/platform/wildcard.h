// Matching of file names against enumeration patterns such as "*.hdr*":
// "*" stands for any run of characters (dots included), "?" for any one
// character, and letter case is ignored for A to Z.
//
// Pure; may run on any thread.
#pragma once

#include <string_view>

namespace sqv64::platform {

bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace sqv64::platform
