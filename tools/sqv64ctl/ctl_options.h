// The command line of sqv64ctl: global options, then a command and its
// arguments.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sqv64::ctl {

struct CtlOptions {
  std::string host = "localhost";
  std::uint16_t port = 8010;
  std::string client_name;  // empty: the host name
  bool russian = false;     // send the Russian command words
  // How long the server may send or take nothing before a command gives up;
  // a transfer that keeps moving has no time limit.
  std::chrono::seconds idle_timeout{120};
  std::string command;
  std::vector<std::string> arguments;  // after the command, options included
};

// The options, or nullopt with `error` set when the line cannot be read.
std::optional<CtlOptions> ParseCtlOptions(int argc, const char* const* argv, std::string& error);

// The usage text printed for --help and after a usage error.
const char* UsageText();

}  // namespace sqv64::ctl
