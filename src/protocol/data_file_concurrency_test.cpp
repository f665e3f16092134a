// Many clients at once listing, fetching, saving and deleting: every reply
// stays whole and consistent.
#include <gtest/gtest.h>

#include <atomic>
#include <string_view>
#include <thread>

#include "fixtures/data_file_fixtures.h"
#include "protocol/testing/test_server.h"

namespace sqv64 {
namespace {

using testing_support::TestServer;

std::string Flight(const std::string& registration, std::uint64_t flight_data) {
  fixtures::PlainFileDescription file;
  file.record.items = {{"A/C type", "A320"}, {"Reg.No.", registration}};
  file.flight_data_length = flight_data;
  return fixtures::PlainFileBytes(file);
}

// Whether `records` are whole records numbered 0, 1, 2, ..., at least
// `at_least` of them.
bool AreNumberedRecords(std::string_view records, std::size_t at_least) {
  if (records.size() % fixtures::kRecordSize != 0 ||
      records.size() / fixtures::kRecordSize < at_least)
    return false;
  for (std::size_t i = 0; i < records.size() / fixtures::kRecordSize; ++i) {
    if (static_cast<unsigned char>(records[i * fixtures::kRecordSize]) != (i & 0xFF))
      return false;
  }
  return true;
}

// Whether a list reply is at least `at_least` numbered records followed by
// a trailer whose length fits.
bool IsWholeList(const std::string& reply, std::size_t at_least) {
  if (reply.size() < 2)
    return false;
  std::size_t length = static_cast<unsigned char>(reply[reply.size() - 2]) |
                       static_cast<std::size_t>(static_cast<unsigned char>(reply.back())) << 8;
  if (length + 2 > reply.size() || reply[reply.size() - 3] != '\t')
    return false;
  return AreNumberedRecords(std::string_view(reply).substr(0, reply.size() - length - 2), at_least);
}

TEST(DataFileConcurrency, FiftyClientsAtOnceAlwaysGetWholeReplies) {
  TestServer server;
  const std::string version_a = Flight("RA-00001", 300000);
  const std::string version_b = Flight("RA-00002", 700000);
  server.store().Write("shared.quv", version_a);
  for (int i = 0; i < 20; ++i)
    server.store().Write("f" + std::to_string(i) + ".hdr", version_a);
  // Whatever the others do, these 20 are always listed (shared.quv may be
  // missing from a list while a save replaces it: Windows lets nobody open
  // a file in the middle of its replacement).
  constexpr std::size_t kAlwaysListed = 20;

  std::atomic<int> bad_lists{0}, bad_fetches{0}, lists{0}, fetches{0}, saves{0}, deletes{0};
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::vector<std::thread> clients;
  for (int c = 0; c < 50; ++c) {
    clients.emplace_back([&, c] {
      ProtocolClient client = server.Client(c % 2 == 0 ? "127.0.0.1" : "::1");
      std::string own = "own" + std::to_string(c) + ".hdr";
      for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
        switch (c % 4) {
          case 0: {
            ProtocolReply reply = client.Run("c", "File list");
            ++lists;
            if (reply.end != ProtocolReply::End::kClosed ||
                !IsWholeList(reply.bytes, kAlwaysListed))
              ++bad_lists;
            break;
          }
          case 1: {
            ProtocolReply reply = client.Run("c", "File copying from server shared.quv");
            ++fetches;
            if (reply.bytes != version_a && reply.bytes != version_b)
              ++bad_fetches;
            break;
          }
          case 2:
            client.Run("c", "File saving into server database shared.quv",
                       round % 2 == 0 ? version_b : version_a);
            ++saves;
            break;
          case 3: {
            client.Run("c", "File saving into server database " + own, version_a);
            ProtocolReply reply = client.Run("c", "File deleting from server database " + own);
            ++deletes;
            // A delete answers the records alone, without the trailer. It
            // answers nothing only when it could not delete: Windows
            // refuses while a list reads the file.
            bool refused = reply.bytes.empty() && server.store().Exists(own);
            if (reply.end != ProtocolReply::End::kClosed ||
                (!refused && !AreNumberedRecords(reply.bytes, kAlwaysListed)))
              ++bad_lists;
            break;
          }
        }
      }
    });
  }
  for (auto& client : clients)
    client.join();

  EXPECT_EQ(bad_lists, 0);
  EXPECT_EQ(bad_fetches, 0);
  EXPECT_GT(lists, 0);
  EXPECT_GT(fetches, 0);
  EXPECT_GT(saves, 0);
  EXPECT_GT(deletes, 0);
  EXPECT_EQ(server.Client().Run("c", "GetOK").bytes, "OK");
  std::string shared = server.store().Read("shared.quv");
  EXPECT_TRUE(shared == version_a || shared == version_b);
}

}  // namespace
}  // namespace sqv64
