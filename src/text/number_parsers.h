// The number parsers of the server's texts: the integer rule shared by
// "port.txt", the weather settings and XML header values, and the decimal
// reader of XML header numbers.
//
// All functions are pure and may run on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sqv64 {

// Reads a whole text as a signed 32-bit integer: leading spaces, an optional
// sign, then decimal digits, or hexadecimal digits after "$", "x", "X", "0x"
// or "0X" (taken as a 32-bit pattern). Nothing may follow the digits.
std::optional<std::int32_t> ParseInteger(std::string_view text);
std::optional<std::int32_t> ParseInteger(std::u16string_view text);

// Every code unit other than "0" to "9" replaced by ".".
std::u16string NonDigitsToDots(std::u16string_view text);

// The low 16 bits of ParseInteger(text); 0 when the text is not an integer.
std::uint16_t TextToWord(std::u16string_view text);

// Reads a decimal number with "," or "." as its separator, falling back to
// NonDigitsToDots for other separators ("12:30" reads as 12.3); 0.0 when
// neither reading succeeds.
double TextToFloat(std::u16string_view text);

}  // namespace sqv64
