// The request line of a connection: client name, TAB, command text. The line
// arrives as UTF-8 and is handled as Windows-1251 bytes, cut to 255 bytes.
//
// Pure functions; may run on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sqv64 {

// The longest line, before its LF, that a client may send.
inline constexpr std::size_t kLongestRequestLine = 16384;
// Only this many bytes of the converted line are used.
inline constexpr std::size_t kUsedRequestLineBytes = 255;

struct RequestLine {
  std::string client_name;   // only logged
  std::string command_text;  // matched against the command table
};

// The client name of a converted line: the bytes up to the first TAB, never
// including the line's last byte.
std::string TextBeforeTab(std::string_view line);

// Splits a received line (without its LF; a CR before the LF still there is
// dropped) into client name and command text.
RequestLine SplitRequestLine(std::string_view received_line);

}  // namespace sqv64
