// Options of connected TCP sockets that the server's transfers use.
//
// Thread safety: any thread may call these for a socket that no other
// thread closes meanwhile.
#pragma once

#include "platform/platform.h"

namespace sqv64::platform {

// While held, the socket sends only full segments, so that a reply that
// goes out in several system calls leaves in as few packets as possible;
// releasing it sends what is left at once. Does nothing where the system
// has no such option.
void HoldPartialSegments(NativeSocket socket, bool hold);

// Lets several sockets that all ask for it listen on one port, the system
// spreading new connections among them; call it before binding. False, with
// nothing changed, where the system cannot do so.
bool ShareListeningPort(NativeSocket socket);

}  // namespace sqv64::platform
