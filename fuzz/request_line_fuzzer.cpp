// The request line as a client sends it: split into client name and command
// text, matched against the command table, and the file name of a data-file
// command put through the name rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/command_table.h"
#include "protocol/file_name_rules.h"
#include "protocol/request_line.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view received(reinterpret_cast<const char*>(data), size);
  if (received.size() > kLongestRequestLine)
    return -1;
  RequestLine request = SplitRequestLine(received);
  if (request.client_name.size() + request.command_text.size() > kUsedRequestLineBytes)
    std::abort();
  MatchedCommand matched = MatchCommand(request.command_text);
  if (matched.command == Command::kNone && !matched.file_name.empty())
    std::abort();
  const std::string& name = matched.file_name;
  if (IsNameInsideFolder(name)) {
    IsWeatherFileName(name);
    // No name that climbs out of the folder or names a drive passes.
    if (name.find(':') != std::string::npos || name[0] == '\\' || name[0] == '/')
      std::abort();
    std::size_t begin = 0;
    while (begin <= name.size()) {
      std::size_t end = name.find_first_of("\\/", begin);
      std::size_t stop = end == std::string::npos ? name.size() : end;
      if (name.compare(begin, stop - begin, "..") == 0)
        std::abort();
      begin = stop + 1;
    }
  }
  IsDataFileName(name);
  if (auto target = SaveTargetName(name)) {
    // What a save stores under is one plain data-file name.
    if (target->find_first_of("\\/:") != std::string::npos || !IsDataFileName(*target))
      std::abort();
  }
  return 0;
}
