#include "protocol/access_list.h"

#include <array>
#include <charconv>

namespace sqv64 {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The words of `line`, split at blanks.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at]))
      ++at;
    std::size_t begin = at;
    while (at < line.size() && !IsBlank(line[at]))
      ++at;
    if (at > begin)
      words.push_back(line.substr(begin, at - begin));
  }
  return words;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size())
    return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i])
      return false;
  }
  return true;
}

// The first `prefix` bits of two addresses of one family are equal.
template <std::size_t N>
bool SamePrefix(const std::array<unsigned char, N>& a, const std::array<unsigned char, N>& b,
                unsigned prefix) {
  for (std::size_t i = 0; i < N && prefix > 0; ++i) {
    unsigned bits = prefix >= 8 ? 8 : prefix;
    auto mask = static_cast<unsigned char>(0xFF << (8 - bits));
    if ((a[i] & mask) != (b[i] & mask))
      return false;
    prefix -= bits;
  }
  return true;
}

// Four decimal numbers of 0 to 255 without leading zeros, joined by dots:
// the only IPv4 form taken, whatever else the system's parser would read
// ("10.1" or "010.0.0.1").
bool IsDottedQuad(std::string_view text) {
  int parts = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('.', at);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view part = text.substr(at, end - at);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
        part.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoi(std::string(part)) > 255)
      return false;
    ++parts;
    at = end + 1;
  }
  return parts == 4;
}

bool Holds(const AccessRule& rule, const asio::ip::address& client) {
  if (rule.network.is_v4() && client.is_v4())
    return SamePrefix(rule.network.to_v4().to_bytes(), client.to_v4().to_bytes(), rule.prefix);
  if (rule.network.is_v6() && client.is_v6())
    return SamePrefix(rule.network.to_v6().to_bytes(), client.to_v6().to_bytes(), rule.prefix);
  return false;
}

}  // namespace

std::string_view AccessName(Access access) {
  switch (access) {
    case Access::kNone:
      return "none";
    case Access::kRead:
      return "read";
    case Access::kWrite:
      return "write";
  }
  return "none";
}

std::string AccessRule::Text() const {
  return network.to_string() + "/" + std::to_string(prefix) + " " + std::string(AccessName(access));
}

asio::ip::address Unmapped(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  return address;
}

std::optional<AccessRule> ParseAccessRule(std::string_view line, bool& malformed) {
  malformed = false;
  std::size_t comment = line.find('#');
  if (comment != std::string_view::npos)
    line = line.substr(0, comment);
  std::vector<std::string_view> words = Words(line);
  if (words.empty())
    return std::nullopt;
  malformed = true;
  if (words.size() != 2)
    return std::nullopt;

  AccessRule rule;
  if (EqualsIgnoringCase(words[1], "read"))
    rule.access = Access::kRead;
  else if (EqualsIgnoringCase(words[1], "write"))
    rule.access = Access::kWrite;
  else
    return std::nullopt;

  std::string_view address_text = words[0];
  std::optional<unsigned> prefix;
  std::size_t slash = address_text.find('/');
  if (slash != std::string_view::npos) {
    std::string_view digits = address_text.substr(slash + 1);
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || digits.size() > 3 || error != std::errc() ||
        end != digits.data() + digits.size())
      return std::nullopt;
    prefix = value;
    address_text = address_text.substr(0, slash);
  }
  // Digits, dots and colons only: no zone index ("fe80::1%eth0" names an
  // interface, not a network) and nothing the address parser might cut off.
  if (address_text.empty() ||
      address_text.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos)
    return std::nullopt;
  if (address_text.find(':') == std::string_view::npos && !IsDottedQuad(address_text))
    return std::nullopt;
  asio::error_code error;
  asio::ip::address network = asio::ip::make_address(std::string(address_text), error);
  if (error)
    return std::nullopt;
  unsigned longest = network.is_v4() ? 32 : 128;
  if (prefix.value_or(longest) > longest)
    return std::nullopt;
  rule.prefix = prefix.value_or(longest);
  // An IPv4-mapped network is the IPv4 network it carries.
  if (network.is_v6() && network.to_v6().is_v4_mapped() && rule.prefix >= 96) {
    network = Unmapped(network);
    rule.prefix -= 96;
  }
  rule.network = network;
  malformed = false;
  return rule;
}

AccessList AccessList::EveryoneMayWrite() {
  AccessList list;
  list.everyone_ = true;
  return list;
}

AccessList AccessList::OnlyLoopback(std::string problem, std::optional<std::size_t> line) {
  AccessList list;
  list.from_file_ = true;
  list.only_loopback_ = true;
  list.problem_ = std::move(problem);
  list.malformed_line_ = line;
  return list;
}

AccessList AccessList::Parse(std::string_view text) {
  AccessList list;
  list.from_file_ = true;
  std::size_t number = 0;
  std::size_t at = 0;
  // Editors on Windows may begin a UTF-8 file with a byte order mark.
  if (text.starts_with("\xEF\xBB\xBF"))
    at = 3;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
      end = text.size();
    ++number;
    bool malformed = false;
    std::optional<AccessRule> rule = ParseAccessRule(text.substr(at, end - at), malformed);
    if (malformed) {
      std::string_view line = text.substr(at, end - at);
      if (line.ends_with('\r'))
        line.remove_suffix(1);
      if (line.size() > 80)
        line = line.substr(0, 80);
      return OnlyLoopback(
          "line " + std::to_string(number) + " is not a rule: \"" + std::string(line) + "\"",
          number);
    }
    if (rule)
      list.rules_.push_back(*rule);
    at = end + 1;
  }
  return list;
}

Access AccessList::AccessOf(const asio::ip::address& address) const {
  if (everyone_)
    return Access::kWrite;
  asio::ip::address client = Unmapped(address);
  if (only_loopback_)
    return client.is_loopback() ? Access::kWrite : Access::kNone;
  for (const AccessRule& rule : rules_) {
    if (Holds(rule, client))
      return rule.access;
  }
  return Access::kNone;
}

}  // namespace sqv64
