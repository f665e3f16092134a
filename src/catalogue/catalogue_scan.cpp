#include "catalogue/catalogue_scan.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "catalogue/data_file_reader.h"
#include "catalogue/header_record.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

struct Pass {
  std::string_view pattern;
  std::string_view plain_extension;
  std::string_view compressed_extension;
};

constexpr Pass kPasses[] = {
    {"*.hdr*", ".hdr", ".hdrx"},
    {"*.quv*", ".quv", ".quvx"},
};

struct Candidate {
  std::string sort_key;
  std::string name;
};

// The data files of one pass, in list order.
std::vector<Candidate> FilesOfPass(const WorkingFolder& folder, const Pass& pass) {
  std::vector<Candidate> files;
  for (platform::DirectoryEntry& entry :
       folder.platform().ListDirectory(folder.path(), pass.pattern)) {
    if (entry.is_directory) {
      continue;
    }
    std::size_t dot = entry.name.rfind('.');
    if (dot == std::string::npos) {
      continue;
    }
    std::string_view extension = std::string_view(entry.name).substr(dot);
    if (extension != pass.plain_extension && extension != pass.compressed_extension) {
      continue;
    }
    files.push_back({AsciiUpperCase(entry.name), std::move(entry.name)});
  }
  // Names differing only in letter case keep a fixed order too.
  std::sort(files.begin(), files.end(), [](const Candidate& a, const Candidate& b) {
    return a.sort_key != b.sort_key ? a.sort_key < b.sort_key : a.name < b.name;
  });
  return files;
}

}  // namespace

std::string ScanCatalogue(const WorkingFolder& folder) {
  std::vector<Candidate> passes[2] = {FilesOfPass(folder, kPasses[0]),
                                      FilesOfPass(folder, kPasses[1])};
  std::string stream;
  stream.reserve((passes[0].size() + passes[1].size()) * kHeaderRecordSize);
  std::uint32_t index = 0;
  HeaderRecord record;
  for (const std::vector<Candidate>& files : passes) {
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
