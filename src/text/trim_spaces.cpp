#include "text/trim_spaces.h"

#include <algorithm>
#include <cstddef>

namespace sqv64 {
namespace {

char LowerByte(char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte;
}
char UpperByte(char byte) {
  return byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 32) : byte;
}

}  // namespace

std::string TrimSpaces(std::string_view text) {
  std::size_t last = text.find_last_not_of(' ');
  if (last == std::string_view::npos) {
    return {};
  }
  std::size_t first = text.find_first_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), LowerByte);
  return out;
}

std::string AsciiUpperCase(std::string_view text) {
  std::string out;
  AppendAsciiUpperCase(out, text);
  return out;
}

void AppendAsciiUpperCase(std::string& out, std::string_view text) {
  auto start = static_cast<std::ptrdiff_t>(out.size());
  out.append(text);
  std::transform(out.begin() + start, out.end(), out.begin() + start, UpperByte);
}

bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right) {
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [](char a, char b) { return LowerByte(a) == LowerByte(b); });
}

}  // namespace sqv64
