#include "platform/socket_options.h"

namespace sqv64::platform {

// Windows has no option of this kind.
void HoldPartialSegments(NativeSocket /*socket*/, bool /*hold*/) {}

}  // namespace sqv64::platform
