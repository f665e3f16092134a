#include "catalogue/catalogue_scan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string_view>
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

// Room for the trailer behind the records: the folder name, the digits of
// the free space, two TABs and the length.
std::size_t TrailerRoom(const WorkingFolder& folder) {
  return folder.path().size() + 32;
}

}  // namespace

std::string ScanCatalogue(const WorkingFolder& folder) {
  std::array<std::vector<Candidate>, 2> groups = DataFiles(folder);
  std::string stream;
  // Reserved whole, so that neither the records nor a trailer appended
  // later move the buffer.
  stream.reserve((groups[0].size() + groups[1].size()) * kHeaderRecordSize + TrailerRoom(folder));
  std::uint32_t index = 0;
  HeaderRecord record;
  for (const std::vector<Candidate>& files : groups) {
    for (const Candidate& file : files) {
      if (!ReadDataFile(folder, file.name, record)) {
        continue;
      }
      record.SetListIndex(index++);
      stream.append(reinterpret_cast<const char*>(record.bytes.data()), kHeaderRecordSize);
    }
  }
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
