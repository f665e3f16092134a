// Reads the header of one data file of the store into a HeaderRecord ready
// for the file list: the standard titles, the size text in item 7, and the
// file's name written backwards into ListName.
//
// Plain files (".hdr", ".quv" and every extension other than the two below)
// carry the record behind a 16-byte preamble; compressed files (".hdrx",
// ".quvx", letter case included) carry an XML header in a zlib stream, which
// is inflated and parsed piece by piece. Only the first 3424 bytes of a plain
// file are read.
//
// A DataFileReader keeps its inflater, buffers and XML parser from one file
// to the next, so a reader that reads many files reads them faster than
// separate calls of ReadDataFile would.
//
// Thread safety: a reader is used by one thread at a time; readers on
// different threads, and ReadDataFile, which uses a reader of its own, may
// run at once on the same file or different ones.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "catalogue/compressed_record_cache.h"
#include "catalogue/header_record.h"
#include "platform/platform.h"
#include "storage/working_folder.h"

namespace sqv64 {

// `name` is relative to the folder. Returns true when the file is to be
// listed; `record` then holds its entry (the list index still to be set).
// Any file that cannot be read, is too short or malformed, lacks the magic,
// does not inflate, or whose XML cannot be read gives false, and the
// record's content has no meaning.
bool ReadDataFile(const WorkingFolder& folder, std::string_view name, HeaderRecord& record);

class DataFileReader {
 public:
  DataFileReader();
  ~DataFileReader();
  DataFileReader(const DataFileReader&) = delete;
  DataFileReader& operator=(const DataFileReader&) = delete;

  // As ReadDataFile.
  bool Read(const WorkingFolder& folder, std::string_view name, HeaderRecord& record);
  // As ReadDataFile, for the file `name` of an opened folder.
  bool Read(platform::Folder& folder, std::string_view name, HeaderRecord& record);

  // From now on, compressed files of the folder `folder_path` whose stamp
  // has not changed are taken from `cache` instead of being inflated and
  // parsed again, and those read are kept there. The cache must outlive the
  // reader.
  void UseCache(CompressedRecordCache& cache, std::string folder_path);

 private:
  bool ReadOpened(std::unique_ptr<platform::File> file, std::string_view name,
                  HeaderRecord& record);

  struct Tools;
  std::unique_ptr<Tools> tools_;  // made for the first compressed file
  CompressedRecordCache* cache_ = nullptr;
  std::string cache_folder_;
};

}  // namespace sqv64
