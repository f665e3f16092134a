// The network probe (the IPv4 addresses of the host's adapters) and the
// options of listening sockets.
#include "platform/windows/windows_api.h"
// windows.h first
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <string>
#include <vector>

#include "platform/windows/windows_platform.h"

namespace sqv64::platform {
namespace {

std::string DottedQuad(const sockaddr_in& address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.sin_addr);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

}  // namespace

std::optional<std::vector<std::string>> WindowsPlatform::OwnIPv4Addresses() {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  // The list can grow between asking for its size and reading it.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    ULONG size = static_cast<ULONG>(buffer.size());
    result = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW)
      buffer.resize(size);
  }
  std::vector<std::string> addresses;
  if (result == ERROR_NO_DATA)
    return addresses;
  if (result != ERROR_SUCCESS)
    return std::nullopt;

  for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
      continue;
    for (const auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET)
        continue;
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
      if (reinterpret_cast<const unsigned char*>(&ipv4->sin_addr)[0] == 127)
        continue;
      addresses.push_back(DottedQuad(*ipv4));
    }
  }
  return addresses;
}

bool PrepareListeningSocket(std::uintptr_t native_socket) {
  BOOL on = TRUE;
  return ::setsockopt(static_cast<SOCKET>(native_socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

}  // namespace sqv64::platform
