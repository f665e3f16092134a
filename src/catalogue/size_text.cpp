#include "catalogue/size_text.h"

#include <cstdio>
#include <cstdlib>

namespace sqv64 {
namespace {

// Below 2^53 bytes the mebibytes are exact in a double with at most ten
// integer digits, so their expansion to 18 significant digits is within
// 5e-9 of them, while every value that is not itself a rounding boundary of
// the second decimal lies at least 2^-20 / 25 (about 3.8e-8) from one: the
// expansion never crosses a boundary, and rounding the exact value in
// integers gives the same text without formatting a double.
constexpr std::uint64_t kExactLimit = std::uint64_t{1} << 53;

std::uint64_t HundredthsByIntegers(std::uint64_t bytes) {
  std::uint64_t whole = bytes >> 20;
  std::uint64_t rest = bytes & 0xFFFFF;
  return whole * 100 + (rest * 100 + 0x80000) / 0x100000;
}

// The mebibytes are written from their decimal expansion to 18 significant
// digits, rounded half up at the second decimal.
std::uint64_t HundredthsByExpansion(std::uint64_t bytes) {
  double mebibytes = static_cast<double>(bytes) / 1048576.0;
  char expansion[40];
  std::snprintf(expansion, sizeof expansion, "%.17e", mebibytes);
  // expansion: one digit, ".", 17 digits, "e", the exponent.
  char digits[18];
  digits[0] = expansion[0];
  for (int i = 0; i < 17; ++i) {
    digits[i + 1] = expansion[i + 2];
  }
  int exponent = std::atoi(expansion + 20);

  // The hundredths: the digits up to the second decimal, rounded by the next.
  int kept = exponent + 3;
  std::uint64_t hundredths = 0;
  for (int i = 0; i < kept; ++i) {
    hundredths = hundredths * 10 + static_cast<std::uint64_t>(i < 18 ? digits[i] - '0' : 0);
  }
  if (kept >= 0 && kept < 18 && digits[kept] >= '5') {
    ++hundredths;
  }
  return hundredths;
}

}  // namespace

std::string SizeText(std::uint64_t bytes) {
  std::uint64_t hundredths =
      bytes < kExactLimit ? HundredthsByIntegers(bytes) : HundredthsByExpansion(bytes);

  std::string text = std::to_string(hundredths / 100);
  unsigned fraction = static_cast<unsigned>(hundredths % 100);
  if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) {
      text += static_cast<char>('0' + fraction % 10);
    }
  }
  return text + " MB";
}

}  // namespace sqv64
