// The size text that the file list shows for a data file: its size in
// mebibytes with at most two decimals and no trailing zeros, then " MB"
// (1048576 bytes give "1 MB", 1572864 give "1.5 MB", 5000000 give
// "4.77 MB", 4000 give "0 MB").
//
// Pure; may run on any thread.
#pragma once

#include <cstdint>
#include <string>

namespace sqv64 {

std::string SizeText(std::uint64_t bytes);

}  // namespace sqv64
