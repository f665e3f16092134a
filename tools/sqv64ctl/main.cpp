// sqv64ctl: a command-line client of the SQV64 server for operators and
// scripts. Run "sqv64ctl help" for the commands.
#include <cstdio>
#include <string>
#include <vector>

#include "ctl_commands.h"
#include "ctl_options.h"

int main(int argc, char** argv) {
  // Names on the command line and in the output are UTF-8 on every system.
  std::vector<std::string> arguments = sqv64::platform::CommandLineArguments(argc, argv);
  sqv64::platform::ShowUtf8OnConsole();
  std::vector<const char*> words;
  for (const std::string& argument : arguments)
    words.push_back(argument.c_str());
  std::string error;
  auto options = sqv64::ctl::ParseCtlOptions(static_cast<int>(words.size()), words.data(), error);
  if (!options) {
    std::fprintf(stderr, "sqv64ctl: %s\n\n%s", error.c_str(), sqv64::ctl::UsageText());
    return 2;
  }
  return sqv64::ctl::RunCtlCommand(*options, sqv64::platform::DefaultPlatform());
}
