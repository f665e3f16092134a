// The catalogue of the store: one 3408-byte HeaderRecord per readable data
// file of the working folder, numbered 0, 1, 2, ... in list order, and, for
// the file list, a trailer with the folder and its free space.
//
// List order: first the ".hdr" and ".hdrx" files, then the ".quv" and
// ".quvx" files (extensions compared exactly, letter case included), each
// group sorted by name (byte order after ASCII upper-casing), so that every
// platform lists a store the same way. Files that cannot be read are left
// out and take no number.
//
// Thread safety: every scan builds its own buffer and keeps no state, so
// any number of scans may run at once on any threads. A large store is read
// on as many threads as the machine has cores.
#pragma once

#include <string>

#include "service/working_folder.h"

namespace sqv64 {

// The records of every readable data file, nothing else.
std::string ScanCatalogue(const WorkingFolder& folder);

// Appends the trailer: the folder name with its last byte (the separator)
// replaced by TAB, the volume's free space in whole mebibytes as decimal
// digits (0 when the platform cannot tell), a TAB, then the length of that
// text as 16 bits, low byte first. A folder name shorter than 3 bytes gives
// no trailer.
void AppendCatalogueTrailer(const WorkingFolder& folder, std::string& stream);

}  // namespace sqv64
