// The file list stream as a client reads it: one 3408-byte header record
// per file, then (for the list command) the trailer with the server's
// folder and free space.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sqv64::ctl {

struct FileListEntry {
  std::uint32_t index = 0;
  std::string name;  // 8-bit, from the record's name area
  std::string aircraft_type, registration, note, date, flight, pilot, size;
};

struct FileList {
  std::vector<FileListEntry> entries;
  std::string folder;                    // as the server names it
  std::optional<std::uint64_t> free_mb;  // free space of the server's volume
};

// Reads a stream; `with_trailer` for the list command's stream, false for
// the delete command's. nullopt with `error` set when the stream is not
// well formed.
std::optional<FileList> ParseFileList(const std::string& stream, bool with_trailer,
                                      std::string& error);

// The list as a table for people, or as JSON for scripts (texts converted
// from Windows-1251 to UTF-8).
std::string FormatFileListTable(const FileList& list);
std::string FormatFileListJson(const FileList& list);

}  // namespace sqv64::ctl
