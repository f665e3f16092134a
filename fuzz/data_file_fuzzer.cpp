// A data file of the store, read as a plain file and as a compressed one,
// as the file list reads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "catalogue/data_file_reader.h"
#include "catalogue/header_record.h"
#include "memory_folder.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view content(reinterpret_cast<const char*>(data), size);
  static DataFileReader reader;  // kept from one input to the next, as a scan keeps it
  for (const char* name : {"flight.hdr", "flight.quvx"}) {
    fuzzing::MemoryFolder folder(name, content);
    HeaderRecord record;
    if (reader.Read(folder, name, record)) {
      // A listed record is ready for the list: the standard items and its
      // name, written where the name of a file is read back.
      if (record.ItemCount() < 7 || ReadListName(record) != name)
        std::abort();
    }
    // A fresh reader reads the same file the same way.
    HeaderRecord again;
    DataFileReader fresh;
    if (fresh.Read(folder, name, again) != reader.Read(folder, name, record))
      std::abort();
  }
  return 0;
}
