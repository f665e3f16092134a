// The access list "access.txt" from outside: the real server process, and
// clients on different loopback addresses (any 127/8 address can be a
// client's source address, and ::1 and ::ffff:127.0.0.1 reach the server
// over IPv6), so that rules can match some clients and not others.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <optional>

#include "fixtures/data_file_fixtures.h"
#include "protocol_client.h"
#include "support/eventually.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

using testing_support::Eventually;
using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

// What one connection brought back; nullopt when it could not connect.
struct Exchange {
  bool connected = false;
  std::string reply;
};

// Connects from `source` to `target`, sends `request` (line and payload),
// closes the sending side and reads until the server closes, within 10 s.
Exchange RunFrom(const std::string& source, const std::string& target, std::uint16_t port,
                 const std::string& request) {
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  asio::ip::address target_address = asio::ip::make_address(target);
  socket.open(target_address.is_v4() ? asio::ip::tcp::v4() : asio::ip::tcp::v6());
  socket.bind({asio::ip::make_address(source), 0});
  Exchange exchange;
  std::string received;
  char chunk[4096];
  std::function<void(const asio::error_code&, std::size_t)> on_read =
      [&](const asio::error_code& error, std::size_t size) {
        received.append(chunk, size);
        if (!error)
          socket.async_read_some(asio::buffer(chunk), on_read);
      };
  socket.async_connect({target_address, port}, [&](const asio::error_code& error) {
    if (error)
      return;
    exchange.connected = true;
    asio::error_code ignored;
    asio::write(socket, asio::buffer(request), ignored);
    socket.shutdown(asio::socket_base::shutdown_send, ignored);
    socket.async_read_some(asio::buffer(chunk), on_read);
  });
  io.run_for(std::chrono::seconds(10));
  EXPECT_TRUE(io.stopped()) << "no end of the reply from " << target << " within 10 s";
  exchange.reply = received;
  return exchange;
}

std::string CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return std::to_string(count);
}

const std::string kListLine = "client\tFile list\n";
const std::string kStored = "stored.hdr";

class AccessListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixtures::PlainFileDescription description;
    description.record.items = {{"Registration", "RA-85001"}};
    description.flight_data_length = 100;
    stored_bytes_ = fixtures::PlainFileBytes(description);
    folder_.Write(kStored, stored_bytes_);
    server_.emplace(folder_.path());
  }

  // Writes access.txt and waits until the server serves by it: `probe`
  // (from, command) gets `expected` bytes back.
  void UseAccessFile(const std::string& text, const std::string& probe_source,
                     bool probe_answered) {
    folder_.Write("access.txt", text);
    ASSERT_TRUE(Eventually(
        [&] {
          return (Send(probe_source, "127.0.0.1", "client\tGetOK\n").reply == "OK") ==
                 probe_answered;
        },
        std::chrono::seconds(10)))
        << "the server did not take up access.txt:\n"
        << text;
  }

  Exchange Send(const std::string& source, const std::string& target, const std::string& request) {
    return RunFrom(source, target, server_->port(), request);
  }

  std::string Log() { return folder_.Read("log.txt"); }

  TemporaryFolder folder_;
  std::string stored_bytes_;
  std::optional<ServerProcess> server_;
};

TEST_F(AccessListTest, AReadClientListsAndFetchesButChangesNothingAndIsLoggedOnce) {
  UseAccessFile("# the office\n127.0.0.1 write\n127.0.0.2/32 read  # the lab\n", "127.0.0.3",
                false);
  const std::string reader = "127.0.0.2";
  EXPECT_EQ(Send(reader, "127.0.0.1", "client\tGetOK\n").reply, "OK");
  std::string list = Send(reader, "127.0.0.1", kListLine).reply;
  EXPECT_NE(list.find("RA-85001"), std::string::npos) << "the list lacks the stored file";
  EXPECT_EQ(Send(reader, "127.0.0.1", "client\tFile copying from server database " + kStored + "\n")
                .reply,
            stored_bytes_);
  EXPECT_EQ(Send(reader, "127.0.0.1", "client\tFile copying from server " + kStored + "\n").reply,
            stored_bytes_);
  EXPECT_NE(Send(reader, "127.0.0.1", "client\tGetStatus\n").reply.find("\"version\""),
            std::string::npos);

  // Save and delete: no reply, nothing changes, one log line for both.
  EXPECT_EQ(Send(reader, "127.0.0.1",
                 "reader\tFile saving into server database new.hdr\n" + stored_bytes_)
                .reply,
            "");
  EXPECT_EQ(
      Send(reader, "127.0.0.1", "reader\tFile deleting from server database " + kStored + "\n")
          .reply,
      "");
  EXPECT_EQ(Send(reader, "127.0.0.1", "reader\tSetArpt\nUUEE").reply, "");
  EXPECT_FALSE(folder_.Exists("new.hdr"));
  EXPECT_EQ(folder_.Read(kStored), stored_bytes_);
  EXPECT_FALSE(folder_.Exists("metar/uuee.txt"));
  std::string log = Log();
  EXPECT_EQ(CountOf(log, "from 127.0.0.2"), "1") << log;
  EXPECT_EQ(
      CountOf(log, "REFUSED File saving into server database new.hdr (reader) from 127.0.0.2"), "1")
      << log;

  // A writer is not held back by the reader's refusals.
  EXPECT_EQ(Send("127.0.0.1", "127.0.0.1",
                 "writer\tFile saving into server database new.hdr\n" + stored_bytes_)
                .reply,
            "");
  EXPECT_TRUE(Eventually([&] { return folder_.Exists("new.hdr"); })) << "the writer's save";
}

TEST_F(AccessListTest, AClientNoRuleMatchesGetsNothingAndIsLoggedOncePerMinute) {
  UseAccessFile("127.0.0.1 write\n", "127.0.0.3", false);
  for (const std::string& request : {std::string("client\tGetOK\n"), kListLine,
                                     "client\tFile copying from server " + kStored + "\n"}) {
    Exchange exchange = Send("127.0.0.3", "127.0.0.1", request);
    EXPECT_TRUE(exchange.connected);
    EXPECT_EQ(exchange.reply, "") << request;
  }
  std::string log = Log();
  EXPECT_EQ(CountOf(log, "REFUSED connection from 127.0.0.3"), "1") << log;
  EXPECT_EQ(CountOf(log, "REFUSED"), "1") << log;
}

TEST_F(AccessListTest, AMalformedLineDeniesEverythingButLoopbackAndNamesItsLine) {
  // The first rule alone would make 127.0.0.1 a reader; the typo on line 3
  // voids the whole file instead of being skipped.
  folder_.Write("access.txt", "127.0.0.1 read\n\n127.0.0.2 wirte\n");
  // The file is looked at when clients come.
  ASSERT_TRUE(Eventually([&] {
    Send("127.0.0.1", "127.0.0.1", "client\tGetOK\n");
    return CountOf(Log(), "access.txt: line 3") == "1";
  })) << Log();
  EXPECT_NE(Log().find("access.txt: line 3 is not a rule: \"127.0.0.2 wirte\"; only loopback "
                       "clients are served"),
            std::string::npos)
      << Log();
  EXPECT_EQ(Send("127.0.0.1", "127.0.0.1", "client\tGetOK\n").reply, "OK");
  EXPECT_EQ(Send("::1", "::1", "client\tGetOK\n").reply, "OK");
  EXPECT_EQ(
      Send("127.0.0.1", "127.0.0.1", "writer\tFile deleting from server database " + kStored + "\n")
          .reply,
      "");
  EXPECT_TRUE(Eventually([&] { return !folder_.Exists(kStored); })) << "loopback may still write";
  std::string status = Send("127.0.0.1", "127.0.0.1", "client\tGetStatus\n").reply;
  EXPECT_NE(status.find("\"malformed_line\": 3"), std::string::npos) << status;
  // Logged once, not once per connection.
  EXPECT_EQ(CountOf(Log(), "access.txt: line 3"), "1") << Log();
}

TEST_F(AccessListTest, AnEditedFileTakesEffectWithoutARestartAndARemovedOneOpensAll) {
  UseAccessFile("127.0.0.1 write\n127.0.0.2 read\n", "127.0.0.3", false);
  const std::string save = "writer\tFile saving into server database new.hdr\n" + stored_bytes_;
  Send("127.0.0.2", "127.0.0.1", save);
  EXPECT_FALSE(folder_.Exists("new.hdr"));

  UseAccessFile("127.0.0.1 write\n127.0.0.2 write\n127.0.0.3 read\n", "127.0.0.3", true);
  Send("127.0.0.2", "127.0.0.1", save);
  EXPECT_TRUE(Eventually([&] { return folder_.Exists("new.hdr"); })) << "the edited rule";

  std::filesystem::remove(folder_.path() / "access.txt");
  ASSERT_TRUE(Eventually([&] {
    return Send("127.0.0.4", "127.0.0.1", "client\tGetOK\n").reply == "OK";
  })) << "without access.txt everyone may connect";
}

TEST_F(AccessListTest, IPv6AndIPv4MappedClientsMatchTheirRules) {
  // ::1 reads; an IPv4-mapped rule is an IPv4 rule; 127.0.0.1 writes.
  UseAccessFile("::1/128 read\n::ffff:127.0.0.2 read\n127.0.0.1/32 write\n", "127.0.0.3", false);
  const std::string save = "writer\tFile saving into server database new.hdr\n" + stored_bytes_;

  EXPECT_EQ(Send("::1", "::1", "client\tGetOK\n").reply, "OK");
  EXPECT_EQ(Send("::1", "::1", save).reply, "");
  EXPECT_EQ(Send("127.0.0.2", "127.0.0.1", save).reply, "");
  EXPECT_FALSE(folder_.Exists("new.hdr"));

  // A client reaching the server through an IPv4-mapped IPv6 address is
  // the IPv4 client it is, here a writer.
  EXPECT_EQ(Send("::ffff:127.0.0.1", "::ffff:127.0.0.1", "client\tGetOK\n").reply, "OK");
  Send("::ffff:127.0.0.1", "::ffff:127.0.0.1", save);
  EXPECT_TRUE(Eventually([&] { return folder_.Exists("new.hdr"); })) << "the mapped writer";
  std::string log = Log();
  EXPECT_EQ(CountOf(log, "REFUSED File saving into server database new.hdr (writer) from ::1"), "1")
      << log;
  EXPECT_EQ(
      CountOf(log, "REFUSED File saving into server database new.hdr (writer) from 127.0.0.2"), "1")
      << log;
}

TEST_F(AccessListTest, WithoutAnAccessFileEveryAddressMayDoEverything) {
  for (std::string source : {"127.0.0.2", "127.0.0.9"}) {
    EXPECT_EQ(Send(source, "127.0.0.1", "client\tGetOK\n").reply, "OK") << source;
  }
  EXPECT_EQ(Send("::1", "::1", "client\tGetOK\n").reply, "OK");
  Send("127.0.0.9", "127.0.0.1", "client\tFile deleting from server database " + kStored + "\n");
  EXPECT_TRUE(Eventually([&] { return !folder_.Exists(kStored); }));
  EXPECT_EQ(CountOf(Log(), "REFUSED"), "0");
}

}  // namespace
}  // namespace sqv64
