// The service object: one per process, owning every component of the
// server (the TCP server, the weather side, the event log) and running the
// start and stop sequences that the service manager asks for.
//
// Thread safety: Start and Stop are called on the service thread, one after
// the other; the components they start run on threads of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace sqv64 {

struct ServiceOptions {
  std::chrono::milliseconds idle_timeout{std::chrono::seconds(120)};
};

class TSQuv64 final : public platform::ServiceHandler {
 public:
  explicit TSQuv64(platform::Platform& platform, ServiceOptions options = {});
  ~TSQuv64() override;

  // The start sequence; true when the service goes on running. An error
  // inside it is written to the system event log as "Service failed on
  // start: <message>" and refuses the start.
  bool Start() override;
  // The stop sequence; errors are written to the system event log the same
  // way.
  void Stop() override;

  // The steps themselves; errors propagate.
  bool ServiceStart();
  void ServiceStop();

  // The working folder found by the start sequence ("c:\" until then or
  // when none could be found).
  const std::string& working_folder() const;
  // The port the TCP server listens on, once started.
  std::uint16_t listening_port() const;

 private:
  struct Components;

  platform::Platform& platform_;
  ServiceOptions options_;
  std::unique_ptr<Components> components_;
};

}  // namespace sqv64
