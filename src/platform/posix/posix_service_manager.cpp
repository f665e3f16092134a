// The POSIX service manager side: the service runs in the foreground (as a
// systemd service or by hand) until SIGTERM or SIGINT, and registration
// writes or removes a systemd unit.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/posix/posix_platform.h"

namespace sqv64::platform {
namespace {

std::string UnitFolder() {
  const char* folder = std::getenv("SQV64_UNIT_DIR");
  return folder != nullptr && *folder != '\0' ? folder : "/etc/systemd/system";
}

// The unit is enabled for boot the way "systemctl enable" does it: a link in
// the wants folder of the multi-user target.
std::string WantsLink(const std::string& folder, const std::string& unit_name) {
  return folder + "/multi-user.target.wants/" + unit_name;
}

std::string QuotedForSystemd(const std::string& path) {
  if (path.find_first_of(" \t\"\\") == std::string::npos)
    return path;
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\')
      quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::string SystemError() {
  return std::strerror(errno);
}

}  // namespace

int PosixPlatform::RunService(ServiceHandler& handler) {
  // Block the stop signals before Start creates any thread, so that only
  // sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!handler.Start()) {
    return 1;
  }
  int received = 0;
  while (sigwait(&stop_signals, &received) != 0) {
  }
  handler.Stop();
  return 0;
}

std::optional<std::string> PosixPlatform::InstallService(const ServiceRegistration& service) {
  std::string folder = UnitFolder();
  std::string unit_name = service.name + ".service";
  std::string unit_path = folder + "/" + unit_name;
  {
    std::ofstream unit(unit_path, std::ios::binary | std::ios::trunc);
    if (!unit)
      return "cannot write " + unit_path + ": " + SystemError();
    unit << "[Unit]\n"
         << "Description=" << service.display_name << "\n"
         << "After=network.target\n\n"
         << "[Service]\n"
         << "Type=simple\n"
         << "ExecStart=" << QuotedForSystemd(NativePath(service.executable)) << "\n"
         << "User=root\n"
         << "Restart=no\n\n"
         << "[Install]\n"
         << "WantedBy=multi-user.target\n";
    unit.close();
    if (!unit)
      return "cannot write " + unit_path + ": " + SystemError();
  }
  std::string wants = folder + "/multi-user.target.wants";
  if (::mkdir(wants.c_str(), 0755) != 0 && errno != EEXIST) {
    return "cannot create " + wants + ": " + SystemError();
  }
  std::string link = WantsLink(folder, unit_name);
  ::unlink(link.c_str());
  if (::symlink(("../" + unit_name).c_str(), link.c_str()) != 0) {
    return "cannot create " + link + ": " + SystemError();
  }
  return std::nullopt;
}

std::optional<std::string> PosixPlatform::UninstallService(const ServiceRegistration& service) {
  std::string folder = UnitFolder();
  std::string unit_name = service.name + ".service";
  std::string unit_path = folder + "/" + unit_name;
  ::unlink(WantsLink(folder, unit_name).c_str());
  if (::unlink(unit_path.c_str()) != 0) {
    return "cannot remove " + unit_path + ": " + SystemError();
  }
  return std::nullopt;
}

}  // namespace sqv64::platform
