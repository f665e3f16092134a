// The command-line switches that register or remove the service.
#pragma once

#include "platform/platform.h"

namespace sqv64 {

struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;  // no success message
};

// Reads "INSTALL", "UNINSTALL" and "SILENT", each with a leading "/" or "-"
// in any letter case; other arguments are ignored.
ServiceSwitches ParseServiceSwitches(int argc, const char* const* argv);

// Registers or removes the service and tells the user how it went; returns
// the process's exit status.
int RunRegistration(platform::Platform& platform, const ServiceSwitches& switches);

}  // namespace sqv64
