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
// A CatalogueScan hands the records over batch by batch, so that a server
// sends each batch as soon as it is read and never holds the whole
// catalogue of a large store. Batches are small, so that the first goes out
// early and a scan holds little memory; a batch large enough is read on as
// many threads as the machine has cores. Compressed files that have not changed since an
// earlier scan are taken from SharedCompressedRecordCache.
//
// Thread safety: every scan keeps its own state, so any number of scans may
// run at once on any threads. One scan is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/data_file_reader.h"
#include "catalogue/header_record.h"
#include "storage/working_folder.h"

namespace sqv64 {

// The number of data files in the folder, by their names alone (none is
// read, so unreadable files count too).
std::size_t CountDataFiles(const WorkingFolder& folder);

class CatalogueScan {
 public:
  // Files read in one batch, at most.
  static constexpr std::size_t kBatchFiles = 256;

  // Enumerates the data files of the folder; none is read yet. The folder
  // must outlive the scan.
  explicit CatalogueScan(const WorkingFolder& folder);
  ~CatalogueScan();
  CatalogueScan(const CatalogueScan&) = delete;
  CatalogueScan& operator=(const CatalogueScan&) = delete;

  // Reads the next batch of files and sets `records` to the records of the
  // readable ones, numbered on from the batches before. They stay valid
  // until the second call after this one, so that a batch can be sent while
  // the next one is read. False once every file has been read.
  bool ReadNextBatch(std::string_view& records);

 private:
  const WorkingFolder& folder_;
  // The folder opened once for all its files; nullptr when it could not be.
  std::unique_ptr<platform::Folder> opened_folder_;
  std::vector<std::string> names_;  // in list order
  std::size_t next_file_ = 0;
  std::uint32_t next_index_ = 0;
  // The records of the last two batches, read straight into their places;
  // the batches take turns.
  std::vector<HeaderRecord> records_[2];
  std::size_t batches_read_ = 0;
  // One per reading thread, kept from batch to batch.
  std::vector<std::unique_ptr<DataFileReader>> readers_;
};

// The records of every readable data file, nothing else, at once.
std::string ScanCatalogue(const WorkingFolder& folder);

// Appends the trailer: the folder name with its last byte (the separator)
// replaced by TAB, the volume's free space in whole mebibytes as decimal
// digits (0 when the platform cannot tell), a TAB, then the length of that
// text as 16 bits, low byte first. A folder name shorter than 3 bytes gives
// no trailer.
void AppendCatalogueTrailer(const WorkingFolder& folder, std::string& stream);

}  // namespace sqv64
