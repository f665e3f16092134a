// Reports the service's state to the Windows service manager. While a start
// or a stop is pending, a ticker thread raises the checkpoint every second,
// so that the manager sees a long start (a large store to scan) progress
// instead of taking the service for hung.
//
// Thread safety: Report may be called from any thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/windows/windows_api.h"

namespace sqv64::platform {

class ServiceStatusReporter {
 public:
  explicit ServiceStatusReporter(SERVICE_STATUS_HANDLE handle);
  // Ends the ticker; reports nothing more.
  ~ServiceStatusReporter();
  ServiceStatusReporter(const ServiceStatusReporter&) = delete;
  ServiceStatusReporter& operator=(const ServiceStatusReporter&) = delete;

  // Reports `state` (SERVICE_RUNNING, ...). The running and paused states
  // accept stop, pause/continue and shutdown; the others accept nothing.
  void Report(DWORD state, DWORD exit_code = NO_ERROR);

 private:
  void Tick();

  SERVICE_STATUS_HANDLE handle_;
  std::mutex mutex_;
  std::condition_variable ending_changed_;
  SERVICE_STATUS status_{};
  bool ending_ = false;
  std::thread ticker_;
};

}  // namespace sqv64::platform
