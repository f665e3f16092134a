// The "File list" of a large store as a client sees it: from connect to
// the last byte of the trailer, over loopback against the real server
// process, beside a floor that only does the unavoidable work in one loop:
// open each data file and read its 3424 header bytes, or inflate its
// stream. Each round runs both, in rotating order; the figures are medians
// of the rounds. Two store shapes are measured, each written into a
// temporary folder that is removed at the end:
//
//   small    N plain .quv files with 1 to 6 KB of flight data and N / 10
//            .quvx files with XML headers of about 1.4 KB
//   default  the same counts, 4 to 64 KB of flight data and XML headers
//            describing 60 parameters (about 7.5 KB)
//
//   catalogue_list_bench [--files N] [--rounds R] [--shape small|default|both]
//
// Defaults: N = 10,000, 9 rounds, both shapes. Only a run of that size
// compares with the goals (the list at most 1.3 times the floor, the
// server's peak resident memory growth under 32 MiB) and fails when one is
// missed; smaller runs only print.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "fixtures/sample_store.h"
#include "platform/platform.h"
#include "support/server_process.h"

namespace {

using namespace sqv64::bench;
using sqv64::platform::FileAccess;
using sqv64::platform::FileCreation;
using sqv64::platform::FileShare;

struct Options {
  std::size_t plain_files = 10000;
  std::size_t rounds = 9;
  std::string shape = "both";
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    const char* text = i + 1 < argc ? argv[i + 1] : nullptr;
    if (text == nullptr) {
      std::fprintf(stderr, "usage: %s [--files N] [--rounds R] [--shape small|default|both]\n",
                   argv[0]);
      return false;
    }
    ++i;
    if (argument == "--files") {
      options.plain_files = std::strtoul(text, nullptr, 10);
    } else if (argument == "--rounds") {
      options.rounds = std::max<std::size_t>(1, std::strtoul(text, nullptr, 10));
    } else if (argument == "--shape") {
      options.shape = text;
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

double Floor(sqv64::platform::Platform& platform, const std::string& folder,
             const std::vector<sqv64::fixtures::SampleFile>& files) {
  auto start = Clock::now();
  std::size_t bytes = 0;
  for (const auto& entry : files) {
    auto file = platform.OpenFile(folder + entry.name, FileAccess::kRead,
                                  entry.compressed ? FileShare::kNone : FileShare::kReadWrite,
                                  FileCreation::kOpenExisting);
    if (file) {
      bytes += entry.compressed ? InflateStream(*file) : ReadPlainHeader(*file);
    }
  }
  return SecondsSince(start) * 1000 + static_cast<double>(bytes == 0);
}

// Measures one shape; false when a goal is missed or the list is wrong.
bool MeasureShape(const Options& options, const std::string& shape) {
  namespace fs = std::filesystem;
  fs::path store = fs::temp_directory_path() /
                   ("sqv64-list-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directory(store);
  std::string folder_path = store.string() + "/";
  sqv64::platform::Platform& platform = sqv64::platform::DefaultPlatform();
  sqv64::fixtures::SampleStoreOptions store_options;
  store_options.plain_files = options.plain_files;
  store_options.compressed_files = options.plain_files / 10;
  if (shape == "small") {
    store_options.xml_parameters = 0;
    store_options.min_flight_data = 1024;
    store_options.max_flight_data = 6 * 1024;
  } else {
    store_options.min_flight_data = 4 * 1024;
    store_options.max_flight_data = 64 * 1024;
  }
  auto files = sqv64::fixtures::WriteSampleStore(platform, folder_path, store_options);
  bool passed = true;
  {
    sqv64::testing_support::ServerProcess server(store);
    const std::size_t expected_records = files.size() * 3408;
    long peak_before = PeakResidentKib(server.pid());
    std::vector<double> floors;
    std::vector<double> lists;
    bool whole = true;
    auto list = [&] {
      auto start = Clock::now();
      long long got = Exchange(server.port(), "bench\tFile list\n");
      lists.push_back(SecondsSince(start) * 1000);
      // The records, then a trailer of a few dozen bytes.
      if (got < static_cast<long long>(expected_records) ||
          got > static_cast<long long>(expected_records + 4096))
        whole = false;
    };
    // One untimed round of each first, so that both find the files cached.
    Floor(platform, folder_path, files);
    list();
    floors.clear();
    lists.clear();
    RotatingRounds(options.rounds,
                   {[&] { floors.push_back(Floor(platform, folder_path, files)); }, list});
    double growth = (PeakResidentKib(server.pid()) - peak_before) / 1024.0;
    double ratio = Median(lists) / Median(floors);
    std::printf("store \"%s\": %zu plain + %zu compressed files (%zu parameters per XML header)\n",
                shape.c_str(), store_options.plain_files, store_options.compressed_files,
                store_options.xml_parameters);
    std::printf("  floor (one loop, no socket)       %8.1f ms\n", Median(floors));
    std::printf("  SQV64, connect to last byte       %8.1f ms   (%.1f MB)\n", Median(lists),
                static_cast<double>(expected_records) / 1e6);
    std::printf(
        "  ratio %.2f (goal: at most 1.30); server peak memory grew %.1f MiB (goal: under "
        "32)\n",
        ratio, growth);
    const bool full_size = options.plain_files >= 10000 && options.rounds >= 5;
    if (!whole) {
      std::fprintf(stderr, "the list did not hold one record per file\n");
      passed = false;
    } else if (full_size && (ratio > 1.3 || growth >= 32)) {
      std::fprintf(stderr, "a goal was missed\n");
      passed = false;
    }
  }
  std::error_code ignored;
  fs::remove_all(store, ignored);
  return passed;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    return 2;
  }
  bool passed = true;
  for (std::string shape : {"small", "default"}) {
    if (options.shape == "both" || options.shape == shape)
      passed = MeasureShape(options, shape) && passed;
  }
  return passed ? 0 : 1;
}
