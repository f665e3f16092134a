// The POSIX service manager side: the service runs in the foreground (as a
// systemd service or by hand) until SIGTERM or SIGINT, and registration
// writes or removes a systemd unit.
#include <pwd.h>
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

// A path as one quoted word of a unit setting: "%" would start a specifier,
// and quotes and backslashes need escapes.
std::string QuotedForSystemd(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\')
      quoted.push_back('\\');
    if (c == '%')
      quoted.push_back('%');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The service runs as whoever owns its working folder: the store's files are
// theirs, and root is needed only when root owns the folder. An owner without
// a name is given by number.
std::optional<std::string> OwnerOf(const std::string& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0)
    return std::nullopt;
  if (const passwd* owner = ::getpwuid(status.st_uid); owner != nullptr && owner->pw_name)
    return std::string(owner->pw_name);
  return std::to_string(status.st_uid);
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
  std::string executable = NativePath(service.executable);
  std::string working_folder = FolderOf(executable);
  // systemd refuses to start a program whose path holds these.
  for (char c : executable) {
    if (c == '\'' || c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
      return "systemd cannot run a program whose path holds quotes, backslashes or control "
             "characters: " +
             executable;
  }
  std::optional<std::string> user = OwnerOf(working_folder);
  if (!user)
    return "cannot read the owner of " + working_folder + ": " + SystemError();
  {
    std::ofstream unit(unit_path, std::ios::binary | std::ios::trunc);
    if (!unit)
      return "cannot write " + unit_path + ": " + SystemError();
    unit << "[Unit]\n"
         << "Description=" << service.display_name << "\n"
         << "After=network.target\n\n"
         << "[Service]\n"
         << "Type=simple\n"
         << "ExecStart=" << QuotedForSystemd(executable) << "\n"
         << "User=" << *user << "\n"
         << "Restart=on-failure\n"
         // The sandbox: the whole file system is read-only but for the
         // working folder (home folders included, so a store under /home
         // still works), no devices, no /tmp of the host's, sockets of the
         // address families the server and its weather client use only
         // (netlink is how the network probe lists the host's addresses).
         << "NoNewPrivileges=yes\n"
         << "ProtectSystem=strict\n"
         << "ProtectHome=read-only\n"
         << "ReadWritePaths=" << QuotedForSystemd(working_folder) << "\n"
         << "PrivateTmp=yes\n"
         << "PrivateDevices=yes\n"
         << "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK\n";
    // A port below 1024 named in port.txt stays usable without root.
    if (*user != "root")
      unit << "AmbientCapabilities=CAP_NET_BIND_SERVICE\n";
    unit << "\n"
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
