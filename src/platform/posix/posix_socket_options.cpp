#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/socket_options.h"

namespace sqv64::platform {

void HoldPartialSegments(NativeSocket socket, bool hold) {
#if defined(TCP_CORK)
  int value = hold ? 1 : 0;
  // A socket that refuses it only sends smaller packets.
  ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_CORK, &value, sizeof value);
#else
  (void)socket;
  (void)hold;
#endif
}

bool ShareListeningPort(NativeSocket socket) {
#if defined(SO_REUSEPORT)
  int value = 1;
  return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) ==
         0;
#else
  (void)socket;
  return false;
#endif
}

}  // namespace sqv64::platform
