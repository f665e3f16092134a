// The replies of an FTP server: single-line ("250 Done") and multi-line
// ("211-Features:" ... "211 End") replies assembled from their lines, the
// address of a passive-mode reply, and the feature list of FEAT.
//
// Pure; may run on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sqv64 {

// Any failure of an FTP step: a refused command, a broken or timed-out
// connection, a malformed reply, a cancelled session.
class FtpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FtpReply {
  int code = 0;
  std::vector<std::string> lines;  // without their line ends

  bool IsPreliminary() const { return code >= 100 && code < 200; }
  bool IsCompletion() const { return code >= 200 && code < 300; }
  bool IsIntermediate() const { return code >= 300 && code < 400; }
  // All lines joined with a space, for error messages.
  std::string Text() const;
};

// Collects the lines of one reply. Feed it line by line until it reports the
// reply complete; a first line that does not begin with three digits, or a
// reply longer than kLargestFtpReply over all its lines (each line end
// counted as one byte), throws FtpError.
class FtpReplyParser {
 public:
  // True once `line` completed the reply.
  bool Feed(std::string line);
  const FtpReply& reply() const { return reply_; }

 private:
  FtpReply reply_;
  std::string code_text_;
  bool multi_line_ = false;
  std::size_t size_ = 0;
};

// No real reply comes near this; a server that sends more is not one.
constexpr std::size_t kLargestFtpReply = 1024 * 1024;

// The port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply. The
// address it names is not returned: the data connection always goes to the
// address of the control connection, so a server cannot send the client to
// another host.
std::optional<std::uint16_t> PassivePort(std::string_view text);

// The feature names (first words, upper-cased) of a FEAT reply.
std::set<std::string> FeatureNames(const FtpReply& reply);

}  // namespace sqv64
