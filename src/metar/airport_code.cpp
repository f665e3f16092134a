#include "metar/airport_code.h"

namespace sqv64 {
namespace {

// Station codes are Latin letters and digits; anything else would make a
// file name the weather server never uses.
bool IsLetterOrDigit(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= 'a' && byte <= 'z');
}

}  // namespace

bool IsAirportCode(std::string_view code) {
  if (code.size() != 4)
    return false;
  for (char byte : code) {
    if (!IsLetterOrDigit(static_cast<unsigned char>(byte)))
      return false;
  }
  return true;
}

}  // namespace sqv64
