#include "platform/socket_options.h"

namespace sqv64::platform {

// Windows has no option of this kind.
void HoldPartialSegments(NativeSocket /*socket*/, bool /*hold*/) {}

// SO_REUSEADDR would let any socket take the port over; one socket listens.
bool ShareListeningPort(NativeSocket /*socket*/) {
  return false;
}

}  // namespace sqv64::platform
