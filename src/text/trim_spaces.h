// Trimming and ASCII-only case folding of 8-bit texts. Only the byte 0x20
// counts as a space here; only A to Z and a to z change case.
//
// All functions are pure and may run on any thread.
#pragma once

#include <string>
#include <string_view>

namespace sqv64 {

// The text without its leading and trailing spaces (0x20).
std::string TrimSpaces(std::string_view text);

std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);
// Appends the text in ASCII upper case to `out`.
void AppendAsciiUpperCase(std::string& out, std::string_view text);

// Whether two texts are equal when A to Z and a to z are folded together.
bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right);

}  // namespace sqv64
