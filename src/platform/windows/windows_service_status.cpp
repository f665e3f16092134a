#include "platform/windows/windows_service_status.h"

#include <chrono>

namespace sqv64::platform {
namespace {

constexpr DWORD kPendingWaitHintMilliseconds = 10000;
constexpr auto kTickPeriod = std::chrono::seconds(1);

bool IsPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

}  // namespace

ServiceStatusReporter::ServiceStatusReporter(SERVICE_STATUS_HANDLE handle) : handle_(handle) {
  status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status_.dwCurrentState = SERVICE_STOPPED;
  ticker_ = std::thread([this] { Tick(); });
}

ServiceStatusReporter::~ServiceStatusReporter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  ending_changed_.notify_all();
  ticker_.join();
}

void ServiceStatusReporter::Report(DWORD state, DWORD exit_code) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_.dwCurrentState = state;
  status_.dwWin32ExitCode = exit_code;
  status_.dwServiceSpecificExitCode = 0;
  if (exit_code == ERROR_SERVICE_SPECIFIC_ERROR) {
    status_.dwServiceSpecificExitCode = 1;
  }
  status_.dwControlsAccepted =
      state == SERVICE_RUNNING || state == SERVICE_PAUSED
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN
          : 0;
  bool pending = IsPending(state);
  status_.dwCheckPoint = pending ? 1 : 0;
  status_.dwWaitHint = pending ? kPendingWaitHintMilliseconds : 0;
  ::SetServiceStatus(handle_, &status_);
}

void ServiceStatusReporter::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ending_changed_.wait_for(lock, kTickPeriod, [this] { return ending_; })) {
    if (IsPending(status_.dwCurrentState)) {
      ++status_.dwCheckPoint;
      ::SetServiceStatus(handle_, &status_);
    }
  }
}

}  // namespace sqv64::platform
