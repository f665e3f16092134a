// sqv64ctl: a command-line client of the SQV64 server for operators and
// scripts. Run "sqv64ctl help" for the commands.
#include <cstdio>
#include <string>

#include "ctl_commands.h"
#include "ctl_options.h"

int main(int argc, char** argv) {
  std::string error;
  auto options = sqv64::ctl::ParseCtlOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "sqv64ctl: %s\n\n%s", error.c_str(), sqv64::ctl::UsageText());
    return 2;
  }
  return sqv64::ctl::RunCtlCommand(*options, sqv64::platform::DefaultPlatform());
}
