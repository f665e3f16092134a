// A test tool: sends a control to an installed service and prints the state
// the service then reports, for the control codes that the system's own
// tools do not send (Wine's "net" and "sc" know no pause and continue).
//
//   sqv64_service_control query|pause|continue <service>
//
// Waits up to 10 seconds for the state the control leads to, then prints
// one of STOPPED, START_PENDING, STOP_PENDING, RUNNING,
// CONTINUE_PENDING, PAUSE_PENDING, PAUSED (query waits for a state that is
// not pending); exits with 1 when the service
// manager refuses the control.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/windows/wide_text.h"
#include "platform/windows/windows_api.h"

namespace {

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "STOPPED";
    case SERVICE_START_PENDING:
      return "START_PENDING";
    case SERVICE_STOP_PENDING:
      return "STOP_PENDING";
    case SERVICE_RUNNING:
      return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
      return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
      return "PAUSE_PENDING";
    case SERVICE_PAUSED:
      return "PAUSED";
  }
  return "UNKNOWN";
}

bool IsPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

int Fail(const char* what) {
  std::fprintf(stderr, "%s: %s\n", what,
               sqv64::platform::SystemErrorText(::GetLastError()).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s query|pause|continue <service>\n", argv[0]);
    return 2;
  }
  std::string command = argv[1];
  DWORD control = 0;
  DWORD expected = 0;  // the state the control leads to
  if (command == "pause") {
    control = SERVICE_CONTROL_PAUSE;
    expected = SERVICE_PAUSED;
  } else if (command == "continue") {
    control = SERVICE_CONTROL_CONTINUE;
    expected = SERVICE_RUNNING;
  } else if (command != "query") {
    std::fprintf(stderr, "unknown command %s\n", argv[1]);
    return 2;
  }
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr)
    return Fail("OpenSCManager");
  std::wstring name = sqv64::platform::WideText(argv[2]);
  SC_HANDLE service =
      ::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE);
  if (service == nullptr)
    return Fail("OpenService");
  SERVICE_STATUS status{};
  if (control != 0 && !::ControlService(service, control, &status))
    return Fail("ControlService");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    if (!::QueryServiceStatus(service, &status))
      return Fail("QueryServiceStatus");
    if (control == 0 ? !IsPending(status.dwCurrentState) : status.dwCurrentState == expected)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  std::printf("%s\n", StateName(status.dwCurrentState));
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  return 0;
}
