#include "catalogue/catalogue_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <thread>
#include <vector>

#include "catalogue/data_file_reader.h"
#include "catalogue/header_record.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

// The two groups of the list, each with its plain and compressed extension.
struct Group {
  std::string_view plain_extension;
  std::string_view compressed_extension;
};

constexpr std::array<Group, 2> kGroups = {{
    {".hdr", ".hdrx"},
    {".quv", ".quvx"},
}};

struct Candidate {
  std::string sort_key;
  std::string name;
};

// The data files of the folder, by group, each group in list order. One
// enumeration serves both groups: a name with one of the exact extensions
// always matches its group's pattern ("*.hdr*", "*.quv*") as well.
std::array<std::vector<Candidate>, 2> DataFiles(const WorkingFolder& folder) {
  std::array<std::vector<Candidate>, 2> groups;
  for (platform::DirectoryEntry& entry : folder.platform().ListDirectory(folder.path(), "*")) {
    std::size_t dot = entry.name.rfind('.');
    if (entry.is_directory || dot == std::string::npos) {
      continue;
    }
    std::string_view extension = std::string_view(entry.name).substr(dot);
    for (std::size_t group = 0; group < kGroups.size(); ++group) {
      if (extension == kGroups[group].plain_extension ||
          extension == kGroups[group].compressed_extension) {
        groups[group].push_back({AsciiUpperCase(entry.name), std::move(entry.name)});
        break;
      }
    }
  }
  for (std::vector<Candidate>& files : groups) {
    // Names differing only in letter case keep a fixed order too.
    std::sort(files.begin(), files.end(), [](const Candidate& a, const Candidate& b) {
      return a.sort_key != b.sort_key ? a.sort_key < b.sort_key : a.name < b.name;
    });
  }
  return groups;
}

// Stores smaller than this many files per thread are read on one thread.
constexpr std::size_t kFilesPerThread = 256;

// Room for the trailer behind the records: the folder name, the digits of
// the free space, two TABs and the length.
std::size_t TrailerRoom(const WorkingFolder& folder) {
  return folder.path().size() + 32;
}

}  // namespace

std::string ScanCatalogue(const WorkingFolder& folder) {
  std::array<std::vector<Candidate>, 2> groups = DataFiles(folder);
  std::vector<const Candidate*> files;
  for (const std::vector<Candidate>& group : groups) {
    for (const Candidate& file : group)
      files.push_back(&file);
  }
  // Every file has its slot in the stream, so the files can be read on
  // several threads at once; the slots of unreadable files are closed up
  // afterwards. Reserved whole, so that a trailer appended later does not
  // move the buffer.
  std::string stream;
  stream.reserve(files.size() * kHeaderRecordSize + TrailerRoom(folder));
  stream.resize(files.size() * kHeaderRecordSize);
  std::vector<char> readable(files.size(), 0);
  std::atomic<std::size_t> next{0};
  auto read_files = [&] {
    HeaderRecord record;
    for (std::size_t i = next++; i < files.size(); i = next++) {
      if (ReadDataFile(folder, files[i]->name, record)) {
        std::memcpy(stream.data() + i * kHeaderRecordSize, record.bytes.data(), kHeaderRecordSize);
        readable[i] = 1;
      }
    }
  };
  std::size_t helpers =
      std::min<std::size_t>(std::thread::hardware_concurrency(), files.size() / kFilesPerThread);
  std::vector<std::thread> threads;
  for (std::size_t t = 1; t < helpers; ++t)
    threads.emplace_back(read_files);
  read_files();
  for (std::thread& thread : threads)
    thread.join();

  std::uint32_t index = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!readable[i])
      continue;
    char* slot = stream.data() + index * kHeaderRecordSize;
    if (index != i)
      std::memmove(slot, stream.data() + i * kHeaderRecordSize, kHeaderRecordSize);
    for (int b = 0; b < 4; ++b)
      slot[b] = static_cast<char>((index >> (8 * b)) & 0xFF);
    ++index;
  }
  stream.resize(index * kHeaderRecordSize);
  return stream;
}

void AppendCatalogueTrailer(const WorkingFolder& folder, std::string& stream) {
  std::string text = folder.path();
  if (text.size() < 3) {
    return;
  }
  std::uint64_t free_bytes = folder.platform().FreeBytes(folder.path()).value_or(0);
  text.back() = '\t';
  text += std::to_string(free_bytes / 1048576);
  text += '\t';
  if (text.size() > std::numeric_limits<std::uint16_t>::max()) {
    return;  // its length could not be told
  }
  stream += text;
  stream += static_cast<char>(text.size() & 0xFF);
  stream += static_cast<char>(text.size() >> 8);
}

}  // namespace sqv64
