// The small text routines of the weather reports: blanks trimming, words of
// a report line, "/"-separated fields of a time line and the station code of
// a file name or report line. Bytes are compared as unsigned values, so the
// Windows-1251 letters above 0x7F are never taken for blanks.
//
// All functions are pure and may run on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sqv64 {

// The text without the bytes of value 32 or less at its ends.
std::string TrimBlanks(std::string_view text);

// Word `index` (from 0) of the trimmed text, where words are runs of bytes
// above 32; empty when the text has fewer words.
std::string WordAt(std::string_view text, std::size_t index);

// Field `index` (from 0) of the text split at "/"; the last field runs to
// the end; empty when there are fewer fields.
std::string SlashField(std::string_view text, std::size_t index);

// The first four bytes, upper-cased in ASCII; empty when the text is
// shorter.
std::string StationCodeOf(std::string_view text);

}  // namespace sqv64
