// The access list "access.txt": which client addresses may read the store
// and which may change it.
//
// One rule per line, "ADDRESS[/PREFIX] read|write", IPv4 or IPv6; anything
// after "#" is a comment; blank lines are skipped. The first rule whose
// network holds the client's address decides. An IPv4-mapped IPv6 address
// (::ffff:10.1.2.3) is matched as the IPv4 address it carries. A client no
// rule matches may do nothing.
//
// A file with a line that is not a rule is not half-used: the whole file
// counts as "deny everything but loopback", so that a typo can never open
// the store.
//
// Pure; immutable once parsed, so one list may be shared between threads.
#pragma once

#include <asio/ip/address.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqv64 {

enum class Access {
  kNone,   // the connection is closed at once
  kRead,   // GetOK, GetStatus, the list, both copy commands, GetArpt
  kWrite,  // every command
};

std::string_view AccessName(Access access);

struct AccessRule {
  asio::ip::address network;  // IPv4 for IPv4 and IPv4-mapped rules
  unsigned prefix = 0;        // bits of `network` that must match
  Access access = Access::kNone;

  // As written in a file: "10.1.0.0/16 read".
  std::string Text() const;
};

class AccessList {
 public:
  // What a missing file means: everyone may do everything.
  static AccessList EveryoneMayWrite();
  // What a malformed or unreadable file means: loopback clients may write,
  // others nothing. `problem` says why, for the log and the status.
  static AccessList OnlyLoopback(std::string problem, std::optional<std::size_t> line = {});

  // Parses the file's bytes. A malformed line gives OnlyLoopback with its
  // number (counted from 1).
  static AccessList Parse(std::string_view text);

  // What the client at `address` may do.
  Access AccessOf(const asio::ip::address& address) const;

  // Whether an access.txt is in force at all (false for EveryoneMayWrite).
  bool from_file() const { return from_file_; }
  // Whether the file could not be used, so that only loopback is served;
  // what was wrong, and the number of the malformed line if it was one.
  bool only_loopback() const { return only_loopback_; }
  const std::string& problem() const { return problem_; }
  std::optional<std::size_t> malformed_line() const { return malformed_line_; }
  const std::vector<AccessRule>& rules() const { return rules_; }

 private:
  std::vector<AccessRule> rules_;
  bool from_file_ = false;
  bool everyone_ = false;
  bool only_loopback_ = false;
  std::string problem_;
  std::optional<std::size_t> malformed_line_;
};

// One line of the file, without its line end: a rule, nullopt for a line
// that holds none (blank or only a comment), or `malformed` set.
std::optional<AccessRule> ParseAccessRule(std::string_view line, bool& malformed);

// `address` with an IPv4-mapped IPv6 address turned into its IPv4 address.
asio::ip::address Unmapped(const asio::ip::address& address);

}  // namespace sqv64
