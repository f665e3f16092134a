#include "text/number_parsers.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace sqv64 {
namespace {

template <typename Char>
bool IsDigit(Char c) {
  return c >= '0' && c <= '9';
}

template <typename Char>
int HexValue(Char c) {
  if (c >= '0' && c <= '9')
    return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f')
    return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F')
    return static_cast<int>(c - 'A' + 10);
  return -1;
}

template <typename Char>
std::optional<std::int32_t> ParseIntegerOf(std::basic_string_view<Char> text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  std::size_t hex_digits_at = std::u16string_view::npos;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex_digits_at = i + 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex_digits_at = i + 2;
  }
  if (hex_digits_at != std::u16string_view::npos) {
    i = hex_digits_at;
    if (i == text.size())
      return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
      int digit = HexValue(text[i]);
      if (digit < 0)
        return std::nullopt;
      value = value * 16 + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFu)
        return std::nullopt;
    }
    auto pattern = static_cast<std::uint32_t>(value);
    if (negative)
      pattern = 0u - pattern;
    return static_cast<std::int32_t>(pattern);
  }
  if (i == text.size())
    return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i]))
      return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL)
      return std::nullopt;
  }
  if (negative)
    value = -value;
  if (value > 2147483647LL)
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// The whole-text decimal rule; see TextToFloat.
std::optional<double> ParseDecimal(std::u16string_view text) {
  if (text.empty())
    return std::nullopt;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string mantissa;
  bool digit_read = false;
  long long fraction_digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    mantissa.push_back(static_cast<char>(text[i]));
    digit_read = true;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (!digit_read && i == text.size())
      return negative ? -0.0 : 0.0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      mantissa.push_back(static_cast<char>(text[i]));
      ++fraction_digits;
      digit_read = true;
    }
  }
  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    digit_read = false;
    bool exponent_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      exponent = std::min(exponent * 10 + (text[i] - '0'), 100000LL);
      digit_read = true;
    }
    if (exponent_negative)
      exponent = -exponent;
  }
  if (i != text.size() || !digit_read)
    return std::nullopt;
  if (mantissa.empty())
    mantissa.push_back('0');  // assigning "0" upsets GCC 12's -Wrestrict at -O3
  // A digit string with an exponent and no separator reads the same in every
  // locale, and strtod rounds it correctly.
  std::string number = mantissa + "e" + std::to_string(exponent - fraction_digits);
  double value = std::strtod(number.c_str(), nullptr);
  return negative ? -value : value;
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  return ParseIntegerOf(text);
}

std::optional<std::int32_t> ParseInteger(std::u16string_view text) {
  return ParseIntegerOf(text);
}

std::u16string NonDigitsToDots(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& unit : out) {
    if (!IsDigit(unit))
      unit = u'.';
  }
  return out;
}

std::uint16_t TextToWord(std::u16string_view text) {
  auto value = ParseInteger(text);
  return value ? static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value) & 0xFFFF) : 0;
}

double TextToFloat(std::u16string_view text) {
  std::u16string with_dots(text);
  std::replace(with_dots.begin(), with_dots.end(), u',', u'.');
  if (auto value = ParseDecimal(with_dots))
    return *value;
  if (auto value = ParseDecimal(NonDigitsToDots(with_dots)))
    return *value;
  return 0.0;
}

}  // namespace sqv64
