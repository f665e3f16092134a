#include "protocol/tcp_server.h"

#include <gtest/gtest.h>

#include "protocol/testing/test_server.h"
#include "support/eventually.h"

namespace sqv64 {
namespace {

using testing_support::TestServer;
using End = ProtocolReply::End;

struct ExchangeCase {
  std::string request;
  std::string reply;
};

class RequestFraming : public testing::TestWithParam<ExchangeCase> {
 protected:
  static TestServer* server_;
  static void SetUpTestSuite() { server_ = new TestServer(); }
  static void TearDownTestSuite() { delete server_; }
};

TestServer* RequestFraming::server_ = nullptr;

TEST_P(RequestFraming, AnswersExactlyAndCloses) {
  for (const char* host : {"127.0.0.1", "::1"}) {
    ProtocolReply reply = server_->Client(host).RunRaw(GetParam().request);
    EXPECT_EQ(reply.end, End::kClosed) << host << ": " << reply.error;
    EXPECT_EQ(reply.bytes, GetParam().reply) << host;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RequestFraming,
                         testing::Values(ExchangeCase{"client1\tGetOK\n", "OK"},
                                         ExchangeCase{"client1\tGetOK\r\n", "OK"},
                                         ExchangeCase{"\tGetOK\n", "OK"},
                                         ExchangeCase{"GetOK\n", ""},
                                         ExchangeCase{"client\tgetok\n", ""},
                                         ExchangeCase{"client\tGetOK \n", ""},
                                         ExchangeCase{"client\t\n", ""}, ExchangeCase{"\n", ""},
                                         ExchangeCase{"client\tGetOK", ""},  // closed before the LF
                                         // Bytes after a command without payload are never read.
                                         ExchangeCase{"client\tGetOK\nSetArpt\nUUEE", "OK"},
                                         ExchangeCase{std::string(250, 'n') + "\tGetOK\n", ""}));

TEST(TcpServer, ALineLongerThanTheLimitEndsTheConnectionAtOnce) {
  TestServer server;
  std::string endless(20000, 'x');
  ProtocolReply reply = server.Client().RunRaw(endless, /*close_sending_side=*/false);
  EXPECT_NE(reply.end, End::kTimedOut);
  EXPECT_EQ(reply.bytes, "");
}

// Two servers must never share a port (on Windows SO_REUSEADDR would let
// them): the second one's start fails, on IPv4 and IPv6 alike.
TEST(TcpServer, APortThatAnotherServerHoldsFailsTheStart) {
  TestServer first;
  TcpServer second({}, [](Connection&) -> asio::awaitable<void> { co_return; });
  EXPECT_THROW(second.Start(first.server().port()), asio::system_error);
  EXPECT_EQ(first.Client().Run("c", "GetOK").bytes, "OK");

  // An IPv6 listener on the port is refused as well.
  asio::io_context io;
  asio::ip::tcp::acceptor ipv6(io);
  asio::error_code no_ipv6;
  ipv6.open(asio::ip::tcp::v6(), no_ipv6);
  if (!no_ipv6) {
    ipv6.set_option(asio::ip::v6_only(true));
    ASSERT_TRUE(
        platform::PrepareListeningSocket(static_cast<std::uintptr_t>(ipv6.native_handle())));
    asio::error_code taken;
    ipv6.bind({asio::ip::tcp::v6(), first.server().port()}, taken);
    EXPECT_TRUE(taken) << "bound a port in use";
  }
}

TEST(TcpServer, ASilentClientIsDisconnectedAfterTheIdleTime) {
  TestServer server(TcpServerOptions{std::chrono::milliseconds(200), 2, 2});
  ProtocolReply waiting_for_line = server.Client().RunRaw("", /*close_sending_side=*/false);
  EXPECT_NE(waiting_for_line.end, End::kTimedOut);
  ProtocolReply waiting_for_payload =
      server.Client().RunRaw("c\tSetArpt\nUUEE", /*close_sending_side=*/false);
  EXPECT_NE(waiting_for_payload.end, End::kTimedOut);
  EXPECT_TRUE(server.weather().Calls().empty());
}

TEST(TcpServer, SettingsCommandsReceiveTheirPayloadAndSignalTheTimers) {
  TestServer server;
  auto client = server.Client();
  client.Run("c", "SetArpt", "UUEEUUDD");
  client.Run("c", "DelArpt", "UUEE");
  client.Run("c", "SetMIni", "Dwnld.Type=1\r\n");
  client.Run("c", "SetArpt", "");
  client.Run("c", "SetArpt", std::string(kLargestSettingsPayload + 1, 'U'));
  std::vector<std::string> expected = {
      "AddAirports:UUEEUUDD",
      "MarkSettingsChanged",
      "RemoveAirports:UUEE",
      "SetSettingsChanged",
      "SaveMetarSettings:Dwnld.Type=1\r\n",
      "MarkSettingsChanged",
  };
  EXPECT_EQ(server.weather().Calls(), expected);
}

TEST(TcpServer, GetArptSendsTheAirportList) {
  TestServer server;
  server.weather().airports = "uueeuudd";
  EXPECT_EQ(server.Client().Run("c", "GetArpt").bytes, "uueeuudd");
}

TEST(TcpServer, StopEndsOpenConnectionsWithoutActingOnTheirPayload) {
  TestServer server;
  ProtocolReply reply;
  std::thread waiting([&] { reply = server.Client().RunRaw("c\tSetArpt\nUU", false); });
  EXPECT_TRUE(testing_support::Eventually([&] { return server.Connections() == 1; }))
      << "the connection never arrived";
  server.server().Stop();
  waiting.join();
  EXPECT_NE(reply.end, End::kTimedOut);
  EXPECT_TRUE(server.weather().Calls().empty());
}

}  // namespace
}  // namespace sqv64
