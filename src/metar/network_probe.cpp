#include "metar/network_probe.h"

namespace sqv64 {

bool NetworkProbe::Check() {
  std::optional<std::vector<std::string>> addresses = addresses_();
  if (!addresses)
    return false;
  bool online =
      !addresses->empty() && !addresses->front().empty() && addresses->front() != "127.0.0.1";
  bool changed = online != online_;
  online_ = online;
  return changed;
}

}  // namespace sqv64
