// A station listing from a hostile FTP server: every line read for the
// station it names, as the station run picks the files it fetches.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metar/metar_download.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view listing(reinterpret_cast<const char*>(data), size);
  std::size_t begin = 0;
  while (begin <= listing.size()) {
    std::size_t end = listing.find('\n', begin);
    std::size_t stop = end == std::string_view::npos ? listing.size() : end;
    std::string line(listing.substr(begin, stop - begin));
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::string code = ListedStationCode(line);
    if (!code.empty() && (code.size() != 4 || line.find(code) == std::string::npos))
      std::abort();
    if (end == std::string_view::npos)
      break;
    begin = end + 1;
  }
  return 0;
}
