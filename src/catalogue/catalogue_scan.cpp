#include "catalogue/catalogue_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
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

// One data file of the folder, with what places it in the list.
struct Candidate {
  std::size_t group;
  std::string_view key;  // the name in ASCII upper case
  std::string name;
};

bool ListedBefore(const Candidate* a, const Candidate* b) {
  if (a->group != b->group) {
    return a->group < b->group;
  }
  int by_key = a->key.compare(b->key);
  // Names differing only in letter case keep a fixed order too.
  return by_key != 0 ? by_key < 0 : a->name < b->name;
}

// Below this many files the list is sorted on one thread.
constexpr std::size_t kFilesForParallelSort = 4096;

// Sorts into list order; a long list is sorted in two halves at once, then
// merged, as its sorting holds up the reading of every file.
void SortInListOrder(std::vector<Candidate*>& files) {
  if (files.size() < kFilesForParallelSort || std::thread::hardware_concurrency() < 2) {
    std::sort(files.begin(), files.end(), ListedBefore);
    return;
  }
  auto middle = files.begin() + static_cast<std::ptrdiff_t>(files.size() / 2);
  {
    std::jthread first_half([&] { std::sort(files.begin(), middle, ListedBefore); });
    std::sort(middle, files.end(), ListedBefore);
  }
  std::inplace_merge(files.begin(), middle, files.end(), ListedBefore);
}

// The names of the folder's data files in list order. One enumeration
// serves both groups: a name with one of the exact extensions always
// matches its group's pattern ("*.hdr*", "*.quv*") as well.
std::vector<std::string> DataFiles(const WorkingFolder& folder) {
  std::vector<platform::DirectoryEntry> entries =
      folder.platform().ListDirectory(folder.path(), "*");
  std::vector<Candidate> candidates;
  candidates.reserve(entries.size());
  for (platform::DirectoryEntry& entry : entries) {
    std::size_t dot = entry.name.rfind('.');
    if (entry.is_directory || dot == std::string::npos) {
      continue;
    }
    std::string_view extension = std::string_view(entry.name).substr(dot);
    for (std::size_t group = 0; group < kGroups.size(); ++group) {
      if (extension == kGroups[group].plain_extension ||
          extension == kGroups[group].compressed_extension) {
        candidates.push_back({group, {}, std::move(entry.name)});
        break;
      }
    }
  }
  // The sort keys, side by side in one buffer.
  std::size_t key_bytes = 0;
  for (const Candidate& candidate : candidates) {
    key_bytes += candidate.name.size();
  }
  std::string keys;
  keys.reserve(key_bytes);
  for (const Candidate& candidate : candidates) {
    AppendAsciiUpperCase(keys, candidate.name);
  }
  std::vector<Candidate*> order;
  order.reserve(candidates.size());
  std::size_t key_start = 0;
  for (Candidate& candidate : candidates) {
    candidate.key = std::string_view(keys).substr(key_start, candidate.name.size());
    key_start += candidate.name.size();
    order.push_back(&candidate);
  }
  SortInListOrder(order);
  std::vector<std::string> names;
  names.reserve(order.size());
  for (Candidate* candidate : order) {
    names.push_back(std::move(candidate->name));
  }
  return names;
}

// Batches smaller than this many files per thread are read on fewer threads.
constexpr std::size_t kFilesPerThread = 256;

}  // namespace

std::size_t CountDataFiles(const WorkingFolder& folder) {
  return DataFiles(folder).size();
}

CatalogueScan::CatalogueScan(const WorkingFolder& folder)
    : folder_(folder),
      opened_folder_(folder.platform().OpenFolder(folder.path())),
      names_(DataFiles(folder)) {}

CatalogueScan::~CatalogueScan() = default;

static_assert(sizeof(HeaderRecord) == kHeaderRecordSize,
              "a batch of records is sent as the bytes of its array");

bool CatalogueScan::ReadNextBatch(std::string_view& records) {
  if (next_file_ >= names_.size()) {
    return false;
  }
  const std::size_t first = next_file_;
  const std::size_t count = std::min(kBatchFiles, names_.size() - first);
  next_file_ += count;

  // Every file of the batch has its place, so the files can be read on
  // several threads at once; the places of unreadable files are closed up
  // afterwards.
  std::vector<HeaderRecord>& batch = records_[batches_read_++ % 2];
  if (batch.size() < count) {
    batch.resize(count);
  }
  std::vector<char> readable(count, 0);
  std::atomic<std::size_t> next{0};
  auto read_files = [&](DataFileReader& reader) {
    for (std::size_t i = next++; i < count; i = next++) {
      const std::string& name = names_[first + i];
      bool read = false;
      try {
        read = opened_folder_ ? reader.Read(*opened_folder_, name, batch[i])
                              : reader.Read(folder_, name, batch[i]);
      } catch (const std::exception&) {
        // Out of memory, say: the file is left out, and the helper thread
        // that read it does not end the process.
      }
      readable[i] = read ? 1 : 0;
    }
  };
  std::size_t threads = std::clamp<std::size_t>(
      std::min<std::size_t>(std::thread::hardware_concurrency(), count / kFilesPerThread), 1,
      kBatchFiles);
  while (readers_.size() < threads) {
    readers_.push_back(std::make_unique<DataFileReader>());
    readers_.back()->UseCache(SharedCompressedRecordCache(), folder_.path());
  }
  {
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
      helpers.emplace_back(read_files, std::ref(*readers_[t]));
    }
    read_files(*readers_[0]);
  }  // the helpers are joined here

  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!readable[i]) {
      continue;
    }
    if (kept != i) {
      batch[kept] = batch[i];
    }
    batch[kept].SetUint32At(kListIndexOffset, next_index_++);
    ++kept;
  }
  records = std::string_view(reinterpret_cast<const char*>(batch.data()), kept * kHeaderRecordSize);
  return true;
}

std::string ScanCatalogue(const WorkingFolder& folder) {
  CatalogueScan scan(folder);
  std::string stream;
  std::string_view records;
  while (scan.ReadNextBatch(records)) {
    stream += records;
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
