#include "metar/ftp_reply.h"

#include <cctype>

#include "metar/metar_text.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

bool IsDigit(char byte) {
  return byte >= '0' && byte <= '9';
}

// Reads a decimal number of at most three digits at `position`.
std::optional<int> ReadByteNumber(std::string_view text, std::size_t& position) {
  std::size_t begin = position;
  int value = 0;
  while (position < text.size() && IsDigit(text[position]) && position - begin < 3) {
    value = value * 10 + (text[position] - '0');
    ++position;
  }
  if (position == begin || value > 255 || (position < text.size() && IsDigit(text[position])))
    return std::nullopt;
  return value;
}

// Six comma-separated numbers starting at `position`.
std::optional<std::uint16_t> PortAt(std::string_view text, std::size_t position) {
  int numbers[6];
  for (int index = 0; index < 6; ++index) {
    if (index > 0) {
      if (position >= text.size() || text[position] != ',')
        return std::nullopt;
      ++position;
    }
    auto number = ReadByteNumber(text, position);
    if (!number)
      return std::nullopt;
    numbers[index] = *number;
  }
  return static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
}

}  // namespace

std::string FtpReply::Text() const {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty())
      text += ' ';
    text += line;
  }
  return text;
}

bool FtpReplyParser::Feed(std::string line) {
  size_ += line.size() + 1;
  if (size_ > kLargestFtpReply)
    throw FtpError("the reply is too long");
  if (reply_.lines.empty()) {
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
      throw FtpError("malformed reply: " + line);
    code_text_ = line.substr(0, 3);
    reply_.code = std::stoi(code_text_);
    multi_line_ = line.size() > 3 && line[3] == '-';
    reply_.lines.push_back(std::move(line));
    return !multi_line_;
  }
  bool last = line.compare(0, 3, code_text_) == 0 && (line.size() == 3 || line[3] == ' ');
  reply_.lines.push_back(std::move(line));
  return last;
}

std::optional<std::uint16_t> PassivePort(std::string_view text) {
  // Skip the reply code itself, then take the first run of six numbers.
  for (std::size_t position = 4; position < text.size(); ++position) {
    if (!IsDigit(text[position]) || IsDigit(text[position - 1]))
      continue;
    if (auto port = PortAt(text, position))
      return port;
  }
  return std::nullopt;
}

std::set<std::string> FeatureNames(const FtpReply& reply) {
  std::set<std::string> names;
  for (std::size_t index = 1; index + 1 < reply.lines.size(); ++index) {
    std::string name = WordAt(reply.lines[index], 0);
    if (!name.empty())
      names.insert(AsciiUpperCase(name));
  }
  return names;
}

}  // namespace sqv64
