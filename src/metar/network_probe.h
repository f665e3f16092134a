// Whether the host is online: it is when it has at least one IPv4 address
// of its own and the first one is neither empty nor "127.0.0.1". A check
// whose addresses cannot be found out leaves the state as it was. The probe
// starts offline.
//
// Thread safety: none; the scheduler's event thread alone uses it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sqv64 {

class NetworkProbe {
 public:
  // The host's own IPv4 addresses in the system's order, or nullopt when
  // they cannot be found out (Platform::OwnIPv4Addresses in the service).
  using AddressSource = std::function<std::optional<std::vector<std::string>>()>;

  explicit NetworkProbe(AddressSource addresses) : addresses_(std::move(addresses)) {}

  // Runs one check; true when it changed the online state (either way).
  bool Check();
  bool online() const { return online_; }

 private:
  AddressSource addresses_;
  bool online_ = false;
};

}  // namespace sqv64
