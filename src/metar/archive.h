// Archiving: once a month has passed its 14th day, the records of earlier
// months leave an airport file for "metar\archive\<year>_<month>\<name>",
// the folder named after the file's first time line.
//
// The records the airport file keeps are collected in "metar\archive\tmp.",
// which is then renamed over the airport file in one step, after the
// archive and the kept records are on the disk: a crash leaves either the
// old file or the new one, never none. Records the archive file already
// holds are not appended again, so an archiving repeated after a failure
// adds no copies.
//
// The caller holds the weather files' write lock. An input/output error on
// an open file throws platform::IoError; every file opened here is closed
// on the way out.
#pragma once

#include <string>

#include "storage/working_folder.h"

namespace sqv64 {

// `first_line` is the airport file's first line before the record of
// `time_line` was appended to it; `name` is the airport file's name
// ("uuee.txt").
void ArchiveAirportFile(const WorkingFolder& folder, const std::string& first_line,
                        const std::string& time_line, const std::string& name);

}  // namespace sqv64
