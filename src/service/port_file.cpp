#include "service/port_file.h"

#include <string>

#include "text/number_parsers.h"

namespace sqv64 {
namespace {

// A port line is short; a file of more than this without a line end holds no
// port anyway.
constexpr std::size_t kLongestLine = 4096;

}  // namespace

std::uint16_t ReadPortFile(const WorkingFolder& folder, std::uint16_t port) {
  using namespace platform;
  auto file = folder.platform().OpenFile(folder.PathOf("port.txt"), FileAccess::kRead,
                                         FileShare::kReadWrite, FileCreation::kOpenExisting);
  if (file == nullptr) {
    return port;
  }
  std::string head(kLongestLine, '\0');
  head.resize(file->Read(head.data(), head.size()));
  file->Close();
  std::string line = head.substr(0, head.find_first_of("\r\n"));
  if (auto value = ParseInteger(line)) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value) & 0xFFFF);
  }
  return port;
}

}  // namespace sqv64
