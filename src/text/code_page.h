// Conversions between the server's 8-bit texts (Windows-1251 byte strings)
// and Unicode texts: UTF-16 for XML values and file-system names, UTF-8 for
// request lines and POSIX file names.
//
// All functions are pure and may run on any thread. A character that
// Windows-1251 lacks, and a malformed UTF-8 or UTF-16 sequence, becomes "?".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sqv64 {

// The Unicode character of one Windows-1251 byte. The unassigned byte 0x98
// maps to U+0098 so that every byte survives a round trip.
char16_t Windows1251ToUnicode(unsigned char byte);

// The Windows-1251 byte of a Unicode character, if the code page has one.
std::optional<unsigned char> UnicodeToWindows1251(char32_t character);

// 8-bit text to UTF-16, one code unit per byte.
std::u16string AnsiToUnicode(std::string_view text);

// UTF-16 to 8-bit text; each character the code page lacks becomes "?".
std::string UnicodeToAnsi(std::u16string_view text);

// The length of the run of ASCII bytes (below 0x80) that `text` starts
// with: bytes that read the same in Windows-1251 and in UTF-8.
std::size_t AsciiPrefixLength(std::string_view text);

// UTF-8 to 8-bit text; unknown characters and malformed sequences become "?".
std::string Utf8ToAnsi(std::string_view text);

// 8-bit text to UTF-8.
std::string AnsiToUtf8(std::string_view text);

// UTF-8 to UTF-16; malformed sequences become "?".
std::u16string Utf8ToUnicode(std::string_view text);

// UTF-16 to UTF-8; unpaired surrogates become "?".
std::string UnicodeToUtf8(std::u16string_view text);

}  // namespace sqv64
