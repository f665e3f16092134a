// Which texts may serve as an airport code. A code names the file
// "metar\<code>.txt", so only four Latin letters or digits are accepted.
// Separators, dots, spaces and control bytes never reach a file name this
// way.
//
// Pure; may run on any thread.
#pragma once

#include <string_view>

namespace sqv64 {

bool IsAirportCode(std::string_view code);

}  // namespace sqv64
