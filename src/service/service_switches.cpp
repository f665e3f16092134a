#include "service/service_switches.h"

#include <cstdio>
#include <string>

#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

constexpr const char* kServiceName = "SQuv64";
constexpr const char* kDisplayName = "Server Quvara64";

}  // namespace

ServiceSwitches ParseServiceSwitches(int argc, const char* const* argv) {
  ServiceSwitches switches;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument.empty() || (argument[0] != '/' && argument[0] != '-'))
      continue;
    std::string name = AsciiUpperCase(argument.substr(1));
    if (name == "INSTALL")
      switches.install = true;
    if (name == "UNINSTALL")
      switches.uninstall = true;
    if (name == "SILENT")
      switches.silent = true;
  }
  return switches;
}

int RunRegistration(platform::Platform& platform, const ServiceSwitches& switches) {
  platform::ServiceRegistration service{kServiceName, kDisplayName, platform.ExecutablePath()};
  std::optional<std::string> error =
      switches.install ? platform.InstallService(service) : platform.UninstallService(service);
  if (error) {
    std::printf(switches.install ? "Service \"%s\" failed to install with error: \"%s\"\n"
                                 : "Service \"%s\" failed to uninstall with error: \"%s\"\n",
                kDisplayName, error->c_str());
    return 1;
  }
  if (!switches.silent) {
    std::printf(switches.install ? "Service installed successfully\n"
                                 : "Service uninstalled successfully\n");
  }
  return 0;
}

}  // namespace sqv64
