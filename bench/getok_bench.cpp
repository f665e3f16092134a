// "GetOK" with one request per connection, measured by 50 client threads
// over loopback against the real server process, beside nginx answering a
// 2-byte file (access log on) in the same run: requests per second and the
// 99th percentile of the time from connect to the server's close. Each
// round runs every contender for the given time, in rotating order; the
// figures are medians of the rounds.
//
//   getok_bench [--seconds N] [--clients N] [--rounds R]
//
// Defaults: 3 seconds, 50 clients, 7 rounds. Only a run of that length
// compares with the goal (at least nginx's rate, p99 no worse) and fails
// when it is missed; shorter runs only print.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "bench_support.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace {

using namespace sqv64::bench;

struct Figures {
  double rate = 0;    // round trips per second
  double p99_ms = 0;  // of connect to close
  long failures = 0;
};

Figures Measure(std::uint16_t port, std::string_view request, std::size_t reply_at_least,
                int clients, double seconds) {
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<long> failures{0};
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  auto start = Clock::now();
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < clients; ++i) {
      threads.emplace_back([&] {
        std::vector<double> mine;
        mine.reserve(100000);
        while (Clock::now() < end) {
          auto begun = Clock::now();
          long long got = Exchange(port, request, 256);
          if (got < static_cast<long long>(reply_at_least))
            ++failures;
          else
            mine.push_back(SecondsSince(begun) * 1000);
        }
        std::lock_guard<std::mutex> lock(mutex);
        latencies.insert(latencies.end(), mine.begin(), mine.end());
      });
    }
  }
  double elapsed = SecondsSince(start);
  return {static_cast<double>(latencies.size()) / elapsed, Percentile(latencies, 0.99),
          failures.load()};
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  int clients = 50;
  std::size_t rounds = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0)
      seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--clients") == 0)
      clients = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0)
      rounds = std::max(1l, std::atol(argv[i + 1]));
  }
  const bool full_length = seconds >= 3 && rounds >= 5;
  sqv64::testing_support::TemporaryFolder folder;
  sqv64::testing_support::ServerProcess server(folder.path());
  std::filesystem::create_directories(folder.path() / "html");
  std::ofstream(folder.path() / "html" / "ok", std::ios::binary) << "OK";
  std::unique_ptr<Nginx> nginx;
  if (Nginx::Installed()) {
    try {
      nginx = std::make_unique<Nginx>(folder.path() / "nginx", folder.path() / "html",
                                      sqv64::testing_support::FreePort());
    } catch (const std::exception& error) {
      std::printf("nginx could not be started: %s\n", error.what());
    }
  }
  std::vector<Figures> ours;
  std::vector<Figures> theirs;
  std::vector<std::function<void()>> contenders;
  contenders.push_back(
      [&] { ours.push_back(Measure(server.port(), "bench\tGetOK\n", 2, clients, seconds)); });
  if (nginx) {
    contenders.push_back([&] {
      theirs.push_back(Measure(nginx->port(), "GET /ok HTTP/1.0\r\n\r\n", 2, clients, seconds));
    });
  }
  RotatingRounds(rounds, contenders);

  auto median = [](const std::vector<Figures>& figures, double Figures::*field) {
    std::vector<double> values;
    for (const auto& figure : figures)
      values.push_back(figure.*field);
    return Median(values);
  };
  long failures = 0;
  for (const auto& figure : ours)
    failures += figure.failures;
  std::printf("GetOK, one request per connection, %d clients, median of %zu rounds of %.1f s\n",
              clients, rounds, seconds);
  std::printf("  %-8s %10.0f round trips/s   p99 %.2f ms   (%ld failed)\n", "SQV64",
              median(ours, &Figures::rate), median(ours, &Figures::p99_ms), failures);
  if (!nginx)
    return failures == 0 ? 0 : 1;
  std::printf("  %-8s %10.0f round trips/s   p99 %.2f ms\n", "nginx",
              median(theirs, &Figures::rate), median(theirs, &Figures::p99_ms));
  double ratio = median(ours, &Figures::rate) / median(theirs, &Figures::rate);
  double p99_ratio = median(ours, &Figures::p99_ms) / median(theirs, &Figures::p99_ms);
  std::printf(
      "  rate: %.2f x nginx (goal: at least 1.00); p99: %.2f x nginx (goal: at most 1.00)\n", ratio,
      p99_ratio);
  if (failures != 0)
    return 1;
  if (full_length && (ratio < 1.0 || p99_ratio > 1.0)) {
    std::fprintf(stderr, "a goal was missed\n");
    return 1;
  }
  return 0;
}
