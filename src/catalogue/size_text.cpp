#include "catalogue/size_text.h"

#include <cstdio>
#include <cstdlib>

namespace sqv64 {

std::string SizeText(std::uint64_t bytes) {
  // The mebibytes are written from their decimal expansion to 18
  // significant digits, rounded half up at the second decimal.
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
