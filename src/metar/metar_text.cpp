#include "metar/metar_text.h"

#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

bool IsBlank(char byte) {
  return static_cast<unsigned char>(byte) <= 32;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1]))
    --end;
  std::size_t begin = 0;
  while (begin < end && IsBlank(text[begin]))
    ++begin;
  return std::string(text.substr(begin, end - begin));
}

std::string WordAt(std::string_view text, std::size_t index) {
  std::string trimmed = TrimBlanks(text);
  std::size_t position = 0;
  std::size_t word = 0;
  while (position < trimmed.size()) {
    while (position < trimmed.size() && IsBlank(trimmed[position]))
      ++position;
    std::size_t begin = position;
    while (position < trimmed.size() && !IsBlank(trimmed[position]))
      ++position;
    if (begin == position)
      break;
    if (word == index)
      return trimmed.substr(begin, position - begin);
    ++word;
  }
  return {};
}

std::string SlashField(std::string_view text, std::size_t index) {
  std::size_t begin = 0;
  for (std::size_t skipped = 0; skipped < index; ++skipped) {
    std::size_t slash = text.find('/', begin);
    if (slash == std::string_view::npos)
      return {};
    begin = slash + 1;
  }
  std::size_t end = text.find('/', begin);
  return std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
}

std::string StationCodeOf(std::string_view text) {
  if (text.size() < 4)
    return {};
  return AsciiUpperCase(text.substr(0, 4));
}

}  // namespace sqv64
