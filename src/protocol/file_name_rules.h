// Which file names a client may use. Copies may read any file inside the
// working folder (weather files under "metar\" included) but nothing outside
// it; saves and deletes act only on flight data files, so the server's own
// files (its executable, log.txt, port.txt, the metar folder) can never be
// overwritten or deleted through the protocol. A name that holds a control
// byte (below 0x20: NUL, TAB, CR, LF and the rest) names no file at all.
//
// Pure; may run on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sqv64 {

// Whether the name holds a byte below 0x20.
bool HoldsControlByte(std::string_view name);

// A relative path that stays inside the working folder: not empty, no drive
// letter or ":", no leading "\" or "/", no ".." component, no control byte.
bool IsNameInsideFolder(std::string_view name);

// Whether the name's extension is .hdr, .hdrx, .quv or .quvx in any case.
bool IsDataFileName(std::string_view name);

// The name a save stores under: the text after the last "\", "/" or ":", if
// it is a data-file name (which also rules out "", "." and "..") and the
// whole name holds no control byte.
std::optional<std::string> SaveTargetName(std::string_view name);

// Whether a name accepted by IsNameInsideFolder lies in the weather folder.
bool IsWeatherFileName(std::string_view name);

}  // namespace sqv64
