// How long the file list of a large store takes, against a floor that only
// does the unavoidable work: open each data file and read its 3424 header
// bytes, or inflate its stream. The store (10,000 plain and 1,000
// compressed files unless told otherwise) is written into a temporary
// folder, which is removed at the end.
//
//   catalogue_list_bench [--files N] [--compressed M] [--xml-parameters P]
//                        [--rounds R] [--max-ratio X]
//
// N plain files and M compressed ones (N / 10 unless told), whose XML
// headers describe P recorded parameters besides their items (which makes
// their size: about 1.4 KB plus 100 bytes per parameter); R alternating
// rounds of floor and list (15 unless told), of which the fastest of each is
// reported: on a machine that other work shares, the fastest round is the
// one least disturbed. With --max-ratio the program fails when the list
// takes more than X times the floor.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "fixtures/sample_store.h"
#include "platform/platform.h"
#include "storage/working_folder.h"

namespace {

using Clock = std::chrono::steady_clock;
using sqv64::platform::FileAccess;
using sqv64::platform::FileCreation;
using sqv64::platform::FileShare;

struct Options {
  std::size_t plain_files = 10000;
  std::size_t compressed_files = static_cast<std::size_t>(-1);  // default: a tenth of the plain
  std::size_t xml_parameters = sqv64::fixtures::SampleStoreOptions{}.xml_parameters;
  std::size_t rounds = 15;
  double max_ratio = 0.0;  // 0: report only
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* text = nullptr;
    if (argument == "--files" && (text = value())) {
      options.plain_files = std::strtoul(text, nullptr, 10);
    } else if (argument == "--compressed" && (text = value())) {
      options.compressed_files = std::strtoul(text, nullptr, 10);
    } else if (argument == "--xml-parameters" && (text = value())) {
      options.xml_parameters = std::strtoul(text, nullptr, 10);
    } else if (argument == "--rounds" && (text = value())) {
      options.rounds = std::max<std::size_t>(1, std::strtoul(text, nullptr, 10));
    } else if (argument == "--max-ratio" && (text = value())) {
      options.max_ratio = std::strtod(text, nullptr);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--files N] [--compressed M] [--xml-parameters P] [--rounds R] "
                   "[--max-ratio X]\n",
                   argv[0]);
      return false;
    }
  }
  return true;
}

// Reads the first 3424 bytes of a plain file.
std::size_t ReadPlainHeader(sqv64::platform::File& file) {
  unsigned char header[3424];
  return file.Read(header, sizeof header);
}

// Skips the prefix of a compressed file and inflates its whole stream.
std::size_t InflateStream(sqv64::platform::File& file) {
  unsigned char bytes[4];
  if (file.Read(bytes, 4) != 4)
    return 0;
  std::uint64_t position = 4 + static_cast<std::uint64_t>(bytes[2] | bytes[3] << 8);
  file.Seek(position);
  if (file.Read(bytes, 2) != 2)
    return 0;
  file.Seek(position + 2 + static_cast<std::uint64_t>(bytes[0] | bytes[1] << 8) + 12);

  z_stream stream{};
  inflateInit(&stream);
  auto input = std::make_unique_for_overwrite<unsigned char[]>(16384);
  auto output = std::make_unique_for_overwrite<unsigned char[]>(102400);
  std::size_t inflated = 0;
  int status = Z_OK;
  while (status == Z_OK || status == Z_BUF_ERROR) {
    if (stream.avail_in == 0) {
      std::size_t got = file.Read(input.get(), 16384);
      if (got == 0)
        break;
      stream.next_in = input.get();
      stream.avail_in = static_cast<uInt>(got);
    }
    stream.next_out = output.get();
    stream.avail_out = 102400;
    status = inflate(&stream, Z_NO_FLUSH);
    inflated += 102400 - stream.avail_out;
  }
  inflateEnd(&stream);
  return inflated;
}

// Wall-clock and processor time of one run, in milliseconds. The processor
// time (this process's, system calls included) is steadier on a machine
// that other work shares.
struct Timing {
  double wall = 0;
  double processor = 0;
};

class Stopwatch {
 public:
  Timing Elapsed() const {
    return {std::chrono::duration<double, std::milli>(Clock::now() - wall_).count(),
            1000.0 * static_cast<double>(std::clock() - processor_) / CLOCKS_PER_SEC};
  }

 private:
  Clock::time_point wall_ = Clock::now();
  std::clock_t processor_ = std::clock();
};

Timing Floor(sqv64::platform::Platform& platform, const std::string& folder,
             const std::vector<sqv64::fixtures::SampleFile>& files, std::size_t& bytes) {
  Stopwatch stopwatch;
  bytes = 0;
  for (const auto& entry : files) {
    auto file = platform.OpenFile(folder + entry.name, FileAccess::kRead,
                                  entry.compressed ? FileShare::kNone : FileShare::kReadWrite,
                                  FileCreation::kOpenExisting);
    if (file) {
      bytes += entry.compressed ? InflateStream(*file) : ReadPlainHeader(*file);
    }
  }
  return stopwatch.Elapsed();
}

// The list as the server builds it: batch by batch, each batch handed over
// (here: counted) before the next is read.
Timing List(const sqv64::WorkingFolder& folder, std::size_t& size) {
  Stopwatch stopwatch;
  sqv64::CatalogueScan scan(folder);
  std::string_view records;
  size = 0;
  while (scan.ReadNextBatch(records)) {
    size += records.size();
  }
  std::string trailer;
  sqv64::AppendCatalogueTrailer(folder, trailer);
  size += trailer.size();
  return stopwatch.Elapsed();
}

// The part of the list's work that the floor has no counterpart for: the
// enumeration of the folder.
Timing Enumeration(sqv64::platform::Platform& platform, const std::string& folder,
                   std::size_t& entries) {
  Stopwatch stopwatch;
  entries = platform.ListDirectory(folder, "*").size();
  return stopwatch.Elapsed();
}

Timing Fastest(const std::vector<Timing>& timings) {
  Timing fastest = timings.front();
  for (const Timing& timing : timings) {
    fastest.wall = std::min(fastest.wall, timing.wall);
    fastest.processor = std::min(fastest.processor, timing.processor);
  }
  return fastest;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    return 2;
  }
  namespace fs = std::filesystem;
  fs::path store = fs::temp_directory_path() /
                   ("sqv64-list-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directory(store);
  std::string folder_path = store.string() + static_cast<char>(fs::path::preferred_separator);

  sqv64::platform::Platform& platform = sqv64::platform::DefaultPlatform();
  sqv64::fixtures::SampleStoreOptions store_options;
  store_options.plain_files = options.plain_files;
  store_options.xml_parameters = options.xml_parameters;
  // Only the headers are read; small flight data keep the store cheap to
  // write where the file system has no holes.
  store_options.min_flight_data = 4 * 1024;
  store_options.max_flight_data = 64 * 1024;
  store_options.compressed_files = options.compressed_files != static_cast<std::size_t>(-1)
                                       ? options.compressed_files
                                       : options.plain_files / 10;
  auto build_start = Clock::now();
  auto files = sqv64::fixtures::WriteSampleStore(platform, folder_path, store_options);
  double build_ms = std::chrono::duration<double, std::milli>(Clock::now() - build_start).count();
  std::printf(
      "store: %zu plain + %zu compressed files (%zu parameters in each XML header), "
      "written in %.0f ms\n",
      store_options.plain_files, store_options.compressed_files, store_options.xml_parameters,
      build_ms);

  sqv64::WorkingFolder folder(platform, folder_path);
  std::size_t floor_bytes = 0;
  std::size_t list_bytes = 0;
  // One round of each first, so that both find the files in the cache.
  Floor(platform, folder_path, files, floor_bytes);
  List(folder, list_bytes);
  std::vector<Timing> floors;
  std::vector<Timing> lists;
  std::vector<Timing> enumerations;
  std::size_t entries_seen = 0;
  for (std::size_t round = 0; round < options.rounds; ++round) {
    floors.push_back(Floor(platform, folder_path, files, floor_bytes));
    lists.push_back(List(folder, list_bytes));
    enumerations.push_back(Enumeration(platform, folder_path, entries_seen));
  }
  std::error_code ignored;
  fs::remove_all(store, ignored);

  std::size_t entries = list_bytes / 3408;
  if (entries != files.size()) {
    std::fprintf(stderr, "the list holds %zu entries for %zu files\n", entries, files.size());
    return 1;
  }
  Timing floor = Fastest(floors);
  Timing list = Fastest(lists);
  double ratio = list.wall / floor.wall;
  double files_count = static_cast<double>(files.size());
  std::printf("%-34s %10s %10s\n", "fastest of rounds", "floor", "list");
  std::printf("%-34s %10zu %10zu\n", "rounds", options.rounds, options.rounds);
  std::printf("%-34s %10.1f %10.1f\n", "wall-clock time (ms)", floor.wall, list.wall);
  std::printf("%-34s %10.1f %10.1f\n", "processor time (ms)", floor.processor, list.processor);
  std::printf("%-34s %10.2f %10.2f\n", "wall-clock per file (us)", 1000 * floor.wall / files_count,
              1000 * list.wall / files_count);
  std::printf("%-34s %10zu %10zu\n", "bytes read or inflated / listed", floor_bytes, list_bytes);
  std::printf("ratio list / floor: %.2f wall-clock, %.2f processor (goal: at most 1.30)\n", ratio,
              list.processor / floor.processor);
  Timing enumeration = Fastest(enumerations);
  std::printf("within the list, without counterpart in the floor:\n");
  std::printf("  %-32s %10.1f ms wall-clock, %.1f ms processor\n", "enumerating the folder",
              enumeration.wall, enumeration.processor);
  if (options.max_ratio > 0 && ratio > options.max_ratio) {
    std::fprintf(stderr, "the list takes %.2f times the floor, more than %.2f\n", ratio,
                 options.max_ratio);
    return 1;
  }
  return 0;
}
