// The control connection of a hostile FTP server: its bytes cut into lines
// as the client cuts them, assembled into replies, and each reply read for
// its passive-mode port and its feature list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metar/ftp_reply.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view received(reinterpret_cast<const char*>(data), size);
  FtpReplyParser parser;
  std::size_t begin = 0;
  while (begin < received.size()) {
    std::size_t end = received.find('\n', begin);
    if (end == std::string_view::npos)
      break;  // an unfinished line waits for more bytes
    std::string line(received.substr(begin, end - begin));
    begin = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    try {
      if (!parser.Feed(line))
        continue;
    } catch (const FtpError&) {
      return 0;  // the session ends here
    }
    const FtpReply& reply = parser.reply();
    if (reply.code < 0 || reply.code > 999 || reply.lines.empty())
      std::abort();
    PassivePort(reply.Text());
    FeatureNames(reply);
    parser = FtpReplyParser();
  }
  return 0;
}
