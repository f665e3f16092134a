// Registering and removing the service with the Windows service manager.
#include "platform/windows/windows_api.h"
// windows.h first
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_platform.h"

namespace sqv64::platform {
namespace {

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_ != nullptr)
      ::CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

std::string LastErrorText() {
  return SystemErrorText(::GetLastError());
}

}  // namespace

std::optional<std::string> WindowsPlatform::InstallService(const ServiceRegistration& service) {
  ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (manager.get() == nullptr) {
    return LastErrorText();
  }
  std::wstring name = WideText(service.name);
  std::wstring display_name = WideText(service.display_name);
  std::wstring executable = WidePath(service.executable);
  // No load order group, no tag, no dependencies; no account name means the
  // local system account.
  ServiceHandle created(
      ::CreateServiceW(manager.get(), name.c_str(), display_name.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                       executable.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (created.get() == nullptr) {
    return LastErrorText();
  }
  return std::nullopt;
}

std::optional<std::string> WindowsPlatform::UninstallService(const ServiceRegistration& service) {
  ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) {
    return LastErrorText();
  }
  std::wstring name = WideText(service.name);
  ServiceHandle existing(::OpenServiceW(manager.get(), name.c_str(), DELETE));
  if (existing.get() == nullptr || !::DeleteService(existing.get())) {
    return LastErrorText();
  }
  return std::nullopt;
}

}  // namespace sqv64::platform
