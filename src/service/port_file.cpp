#include "service/port_file.h"

#include <string>
#include <string_view>

#include "text/number_parsers.h"

namespace sqv64 {
namespace {

// The file is read in pieces of this size up to the end of its first line.
constexpr std::size_t kPiece = 4096;
// After its leading spaces, a line that can hold a port is short; a longer
// one is still read to its end, but kept only up to here and not parsed.
constexpr std::size_t kLongestNumber = 65536;

}  // namespace

std::uint16_t ReadPortFile(const WorkingFolder& folder, std::uint16_t port) {
  using namespace platform;
  auto file = folder.platform().OpenFile(folder.PathOf("port.txt"), FileAccess::kRead,
                                         FileShare::kReadWrite, FileCreation::kOpenExisting);
  if (file == nullptr) {
    return port;
  }
  // The first line, whatever its length: leading spaces are counted, not
  // kept, and the rest is kept only while it could still be a number.
  std::size_t leading_spaces = 0;
  std::string rest;
  bool too_long = false;
  std::string piece(kPiece, '\0');
  for (bool line_ended = false; !line_ended;) {
    std::size_t read = file->Read(piece.data(), piece.size());
    if (read == 0)
      break;
    std::string_view bytes(piece.data(), read);
    std::size_t end = bytes.find_first_of("\r\n");
    if (end != std::string_view::npos) {
      bytes = bytes.substr(0, end);
      line_ended = true;
    }
    if (rest.empty()) {
      std::size_t first = bytes.find_first_not_of(' ');
      leading_spaces += first == std::string_view::npos ? bytes.size() : first;
      bytes.remove_prefix(first == std::string_view::npos ? bytes.size() : first);
    }
    if (rest.size() + bytes.size() > kLongestNumber) {
      too_long = true;
    } else {
      rest.append(bytes);
    }
  }
  file->Close();
  if (too_long) {
    return port;
  }
  // One leading space stands for all of them: the parse skips them alike.
  std::string line = leading_spaces > 0 ? " " + rest : rest;
  if (auto value = ParseInteger(line)) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value) & 0xFFFF);
  }
  return port;
}

}  // namespace sqv64
