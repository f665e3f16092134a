// Fetch and save of one large file over loopback against the real server
// process: MB/s each way, and how far the server's peak resident memory
// grew (the goal: less than 32 MiB, whatever the file's size).
//
//   transfer_bench [--mib N]     (default 1024: a 1 GiB file)
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "protocol_client.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace {

// The server's peak resident memory so far, in KiB.
long PeakResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return -1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  long mib = 1024;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--mib") == 0)
      mib = std::atol(argv[i + 1]);
  }
  const std::uint64_t size = static_cast<std::uint64_t>(mib) * 1024 * 1024;
  sqv64::testing_support::TemporaryFolder folder;
  sqv64::testing_support::ServerProcess server(folder.path());
  sqv64::ProtocolClient client("127.0.0.1", server.port(), std::chrono::hours(1));
  long peak_before = PeakResidentKib(server.pid());

  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>(i * 131 + 7);
  std::uint64_t sent = 0;
  auto start = std::chrono::steady_clock::now();
  auto saved = client.RunStreaming(
      "bench\tFile saving into server database big.quv\n",
      [&]() -> std::string {
        if (sent == size)
          return {};
        sent += block.size();
        return block;
      },
      [](std::string_view) {});
  double save_seconds = Seconds(start);
  // The save is complete once the file has its full size.
  auto stored = std::filesystem::file_size(folder.path() / "big.quv");

  std::uint64_t received = 0;
  start = std::chrono::steady_clock::now();
  auto fetched = client.RunStreaming(
      "bench\tFile copying from server big.quv\n", [] { return std::string(); },
      [&](std::string_view chunk) { received += chunk.size(); });
  double fetch_seconds = Seconds(start);
  long peak_after = PeakResidentKib(server.pid());

  double megabytes = static_cast<double>(size) / 1e6;
  std::printf("transfer of %ld MiB over loopback\n", mib);
  std::printf("  save:  %8.1f MB/s  (%s)\n", megabytes / save_seconds,
              stored == size ? "stored whole" : "NOT STORED WHOLE");
  std::printf("  fetch: %8.1f MB/s  (%s)\n", megabytes / fetch_seconds,
              received == size ? "received whole" : "NOT RECEIVED WHOLE");
  std::printf(
      "  server peak resident memory: %.1f MiB before, %.1f MiB after: grew %.1f MiB "
      "(goal: under 32)\n",
      peak_before / 1024.0, peak_after / 1024.0, (peak_after - peak_before) / 1024.0);
  bool whole = saved.end == sqv64::ProtocolReply::End::kClosed && stored == size &&
               fetched.end == sqv64::ProtocolReply::End::kClosed && received == size;
  return whole ? 0 : 1;
}
