// The listening port from "port.txt" in the working folder.
#pragma once

#include <cstdint>

#include "storage/working_folder.h"

namespace sqv64 {

inline constexpr std::uint16_t kDefaultPort = 8010;

// The port named by the first line of "port.txt", taken as its low 16 bits
// (70000 gives 4464, -1 gives 65535), or `port` unchanged when the file is
// missing or its line is not an integer. A read error after the file was
// opened throws platform::IoError. The first line is read to its end however
// long it is.
std::uint16_t ReadPortFile(const WorkingFolder& folder, std::uint16_t port);

}  // namespace sqv64
