// Running under the Windows service control dispatcher. The process's main
// thread enters the dispatcher; the service manager starts the service
// thread (ServiceMain), which runs the handler's start and stop and then
// waits for the control codes that the control handler queues for it.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <string>

#include "platform/windows/windows_api.h"
// windows.h first
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_platform.h"
#include "platform/windows/windows_service_status.h"

namespace sqv64::platform {
namespace {

// The one service run of this process. It is static, so that nothing the
// service thread touches goes away while the dispatcher returns.
struct ServiceRun {
  WindowsPlatform* platform = nullptr;
  ServiceHandler* handler = nullptr;
  std::wstring name;
  int exit_status = 1;

  std::mutex mutex;
  std::condition_variable control_arrived;
  std::deque<DWORD> controls;

  void Queue(DWORD control) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      controls.push_back(control);
    }
    control_arrived.notify_one();
  }

  DWORD NextControl() {
    std::unique_lock<std::mutex> lock(mutex);
    control_arrived.wait(lock, [this] { return !controls.empty(); });
    DWORD control = controls.front();
    controls.pop_front();
    return control;
  }
};

ServiceRun the_run;

// Runs the handler's start or stop. An error that escapes it goes to the
// system event log the way the service framework reports it; the result is
// then false.
template <typename Step>
bool RunStep(const char* what, Step step) {
  std::string message;
  try {
    return step();
  } catch (const std::exception& error) {
    message = error.what();
  } catch (...) {
    message = "unknown error";
  }
  the_run.platform->WriteSystemEventLog(std::string("Service failed on ") + what + ": " + message);
  return false;
}

DWORD WINAPI ControlHandler(DWORD control, DWORD /*event_type*/, void* /*event_data*/,
                            void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_SHUTDOWN:
      the_run.Queue(control);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD /*argument_count*/, wchar_t** /*arguments*/) {
  SERVICE_STATUS_HANDLE handle =
      ::RegisterServiceCtrlHandlerExW(the_run.name.c_str(), ControlHandler, nullptr);
  if (handle == nullptr) {
    return;
  }
  ServiceStatusReporter status(handle);
  status.Report(SERVICE_START_PENDING);
  if (!RunStep("start", [] { return the_run.handler->Start(); })) {
    // A refused start: reported stopped at once; the dispatcher returns
    // and the process ends.
    the_run.exit_status = 1;
    status.Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }
  status.Report(SERVICE_RUNNING);
  bool paused = false;
  for (;;) {
    switch (the_run.NextControl()) {
      case SERVICE_CONTROL_STOP:
        status.Report(SERVICE_STOP_PENDING);
        RunStep("stop", [] {
          the_run.handler->Stop();
          return true;
        });
        the_run.exit_status = 0;
        status.Report(SERVICE_STOPPED);
        return;
      case SERVICE_CONTROL_SHUTDOWN:
        // The system is going down: the service ends without its stop.
        the_run.exit_status = 0;
        status.Report(SERVICE_STOPPED);
        return;
      case SERVICE_CONTROL_PAUSE:
        paused = true;
        status.Report(SERVICE_PAUSED);
        break;
      case SERVICE_CONTROL_CONTINUE:
        if (paused) {
          paused = false;
          status.Report(SERVICE_RUNNING);
        }
        break;
    }
  }
}

}  // namespace

int WindowsPlatform::RunService(ServiceHandler& handler) {
  the_run.platform = this;
  the_run.handler = &handler;
  the_run.name = service_name_;
  the_run.exit_status = 1;
  SERVICE_TABLE_ENTRYW services[] = {
      {the_run.name.data(), ServiceMain},
      {nullptr, nullptr},
  };
  if (!::StartServiceCtrlDispatcherW(services)) {
    DWORD error = ::GetLastError();
    std::fprintf(stderr, "%s\n",
                 error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                     ? "This program runs as a Windows service: register it with /INSTALL and "
                       "start it with the service manager."
                     : SystemErrorText(error).c_str());
    return 1;
  }
  return the_run.exit_status;
}

}  // namespace sqv64::platform
