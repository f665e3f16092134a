#include "metar/airport_code.h"

namespace sqv64 {
namespace {

bool IsLetterOrDigit(unsigned char byte) {
  bool ascii =
      (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
  // Windows-1251: А to я, then Ё and ё.
  bool cyrillic = byte >= 0xC0 || byte == 0xA8 || byte == 0xB8;
  return ascii || cyrillic;
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
