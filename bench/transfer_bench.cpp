// Fetch and save of one large file, measured by a client over loopback
// against the real server process, beside the floors in the same run:
// fetch beside nginx (sendfile on, tcp_nopush on) and beside a plain
// sendfile loop, save beside a receiver that reads 1 MiB at a time, writes,
// fsyncs and renames. Each round runs every contender once, in rotating
// order; the figures are medians of the rounds. Also reports how far the
// server's peak resident memory grew.
//
//   transfer_bench [--mib N] [--rounds R]
//
// Defaults: a 1 GiB file, 7 rounds. Only a run of that length compares the
// ratios with the goals (fetch at least 1.0 times nginx, save at least 0.8
// times the floor, memory growth under 32 MiB) and fails when one is missed;
// shorter runs only print.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench_support.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace {

using namespace sqv64::bench;

struct Contender {
  std::string name;
  std::function<long long()> run;  // bytes received, or -1
  std::vector<double> rates = {};  // MB/s per round
};

}  // namespace

int main(int argc, char** argv) {
  long mib = 1024;
  std::size_t rounds = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mib") == 0)
      mib = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0)
      rounds = std::max(1l, std::atol(argv[i + 1]));
  }
  const bool full_length = mib >= 1024 && rounds >= 5;
  const std::uint64_t size = static_cast<std::uint64_t>(mib) << 20;
  namespace fs = std::filesystem;
  sqv64::testing_support::TemporaryFolder folder;
  fs::path store = folder.path() / "store";
  fs::path floor_folder = folder.path() / "floor";
  fs::path nginx_root = folder.path() / "html";
  fs::create_directories(store);
  fs::create_directories(floor_folder);
  fs::create_directories(nginx_root);

  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>(i * 131 + 7);
  {
    std::ofstream big(store / "big.quv", std::ios::binary);
    for (std::uint64_t written = 0; written < size; written += block.size())
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  // The same file for everyone, so that all read it from the same cache.
  fs::create_hard_link(store / "big.quv", nginx_root / "big.quv");

  sqv64::testing_support::ServerProcess server(store);
  const std::uint16_t port = server.port();
  const std::uint16_t fetch_floor_port = sqv64::testing_support::FreePort();
  ChildProcess fetch_floor(
      {SQV64_FLOOR_SERVER, "fetch", std::to_string(fetch_floor_port), (store / "big.quv").string()},
      folder.path() / "fetch-floor.out");
  WaitUntilListening(fetch_floor_port, fetch_floor, "the fetch floor");
  const std::uint16_t save_floor_port = sqv64::testing_support::FreePort();
  ChildProcess save_floor(
      {SQV64_FLOOR_SERVER, "save", std::to_string(save_floor_port), floor_folder.string()},
      folder.path() / "save-floor.out");
  WaitUntilListening(save_floor_port, save_floor, "the save floor");
  std::unique_ptr<Nginx> nginx;
  if (Nginx::Installed()) {
    try {
      nginx = std::make_unique<Nginx>(folder.path() / "nginx", nginx_root,
                                      sqv64::testing_support::FreePort());
    } catch (const std::exception& error) {
      std::printf("nginx could not be started (%s); fetch is compared with the floor\n",
                  error.what());
    }
  }
  long peak_before = PeakResidentKib(server.pid());

  std::vector<Contender> fetches;
  fetches.push_back(
      {"SQV64", [&] { return Exchange(port, "bench\tFile copying from server big.quv\n"); }});
  if (nginx) {
    fetches.push_back({"nginx", [&] {
                         // The reply's header comes on top of the file.
                         long long got = Exchange(nginx->port(), "GET /big.quv HTTP/1.0\r\n\r\n");
                         return got >= static_cast<long long>(size) ? static_cast<long long>(size)
                                                                    : -1;
                       }});
  }
  fetches.push_back({"sendfile floor", [&] { return Exchange(fetch_floor_port, "fetch\n"); }});
  std::vector<Contender> saves;
  saves.push_back({"SQV64", [&] {
                     long long got =
                         Exchange(port, "bench\tFile saving into server database saved.quv\n",
                                  1 << 20, size, block);
                     return got == 0 && fs::file_size(store / "saved.quv") == size
                                ? static_cast<long long>(size)
                                : -1;
                   }});
  saves.push_back({"receiver floor", [&] {
                     long long got = Exchange(save_floor_port, "save\n", 1 << 20, size, block);
                     return got == 0 && fs::file_size(floor_folder / "saved") == size
                                ? static_cast<long long>(size)
                                : -1;
                   }});

  bool whole = true;
  auto as_round = [&](Contender& contender) {
    return [&] {
      auto start = Clock::now();
      long long got = contender.run();
      double seconds = SecondsSince(start);
      if (got != static_cast<long long>(size)) {
        std::fprintf(stderr, "%s: %lld bytes of %llu\n", contender.name.c_str(), got,
                     static_cast<unsigned long long>(size));
        whole = false;
      }
      contender.rates.push_back(static_cast<double>(size) / 1e6 / seconds);
    };
  };
  std::vector<std::function<void()>> fetch_rounds;
  for (auto& contender : fetches)
    fetch_rounds.push_back(as_round(contender));
  std::vector<std::function<void()>> save_rounds;
  for (auto& contender : saves)
    save_rounds.push_back(as_round(contender));
  RotatingRounds(rounds, fetch_rounds);
  RotatingRounds(rounds, save_rounds);
  long peak_after = PeakResidentKib(server.pid());

  std::printf("transfer of %ld MiB over loopback, median of %zu rounds in rotating order\n", mib,
              rounds);
  for (auto* group : {&fetches, &saves}) {
    for (const auto& contender : *group)
      std::printf("  %-5s %-16s %8.1f MB/s\n", group == &fetches ? "fetch" : "save",
                  contender.name.c_str(), Median(contender.rates));
  }
  double fetch_ratio = Median(fetches[0].rates) / Median(fetches[1].rates);
  double save_ratio = Median(saves[0].rates) / Median(saves[1].rates);
  double growth = (peak_after - peak_before) / 1024.0;
  std::printf("  fetch: %.2f x %s (goal: at least 1.00)\n", fetch_ratio, fetches[1].name.c_str());
  std::printf("  save:  %.2f x the receiver floor (goal: at least 0.80)\n", save_ratio);
  std::printf("  server peak resident memory grew %.1f MiB (goal: under 32)\n", growth);
  if (!whole)
    return 1;
  if (full_length && (fetch_ratio < 1.0 || save_ratio < 0.8 || growth >= 32)) {
    std::fprintf(stderr, "a goal was missed\n");
    return 1;
  }
  return 0;
}
