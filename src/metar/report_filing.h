// Filing: merging the reports of a downloaded file "metar\tmp." into the
// per-airport files "metar\<code>.txt".
//
// The downloaded file is a run of blocks: a time line, a report line and a
// blank separator. A report goes to the file named after its first word (the
// station code, lower-cased) when that file exists and does not yet hold the
// time line; in download type 1 a missing file is created for it. A first
// word that is not four letters or digits names no airport and is skipped.
// After each report filed into a file that already held some, older months
// may be archived (ArchiveAirportFile).
//
// Each report is filed under the weather files' write lock, so clients and
// airport commands see every file either before or after it. An
// input/output error on an open file throws platform::IoError; every file
// opened here is closed on the way out.
#pragma once

#include <cstdint>

#include "metar/weather_files.h"

namespace sqv64 {

// Returns the number of reports filed (new in their airport files).
int FileDownloadedReports(WeatherFiles& files, std::int16_t download_type);

}  // namespace sqv64
