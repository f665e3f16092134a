// The process entry of the SQV64 server. Without switches it runs as the
// service; "INSTALL", "UNINSTALL" and "SILENT" (with "/" or "-", any letter
// case) register or remove it instead.
#include <clocale>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "service/service_switches.h"
#include "service/sqv64_service.h"

int main(int argc, char** argv) {
  // Log lines use the date and time formats of the user's LC_TIME.
  std::setlocale(LC_TIME, "");
  sqv64::platform::Platform& platform = sqv64::platform::DefaultPlatform();
  sqv64::ServiceSwitches switches = sqv64::ParseServiceSwitches(argc, argv);
  if (switches.install || switches.uninstall) {
    return sqv64::RunRegistration(platform, switches);
  }
  sqv64::TSQuv64 service(platform);
  return platform.RunService(service);
}
