// The protocol seen from outside: a server process, real sockets, and
// replies checked byte for byte. By default the tests start the server
// built beside them; SQV64_TEST_HOST, SQV64_TEST_PORT and SQV64_TEST_FOLDER
// point them at a running server instead (its working folder as this
// machine sees it), which is how the Windows build is tested.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "protocol_client.h"
#include "support/server_process.h"
#include "support/temporary_folder.h"

namespace sqv64 {
namespace {

using testing_support::ServerProcess;
using testing_support::TemporaryFolder;

// The server under test, shared by every test of this binary.
class ServerUnderTest {
 public:
  static ServerUnderTest& Get() {
    static ServerUnderTest server;
    return server;
  }

  ProtocolClient Client(const std::string& host) const {
    return ProtocolClient(host, port_, std::chrono::seconds(30));
  }
  std::vector<std::string> Hosts() const { return hosts_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  ServerUnderTest() {
    const char* host = std::getenv("SQV64_TEST_HOST");
    const char* port = std::getenv("SQV64_TEST_PORT");
    const char* folder = std::getenv("SQV64_TEST_FOLDER");
    if (host != nullptr && port != nullptr && folder != nullptr) {
      hosts_ = {host};
      if (std::string(host) == "127.0.0.1")
        hosts_.push_back("::1");
      port_ = static_cast<std::uint16_t>(std::stoi(port));
      folder_ = folder;
      return;
    }
    local_folder_ = std::make_unique<TemporaryFolder>();
    local_server_ = std::make_unique<ServerProcess>(local_folder_->path());
    hosts_ = {"127.0.0.1", "::1"};
    port_ = local_server_->port();
    folder_ = local_folder_->path();
  }

  std::unique_ptr<TemporaryFolder> local_folder_;
  std::unique_ptr<ServerProcess> local_server_;
  std::vector<std::string> hosts_;
  std::uint16_t port_ = 0;
  std::filesystem::path folder_;
};

TEST(Protocol, GetOKAnswersOKOnEveryAddress) {
  auto& server = ServerUnderTest::Get();
  for (const std::string& host : server.Hosts()) {
    ProtocolReply reply = server.Client(host).Run("client1", "GetOK");
    EXPECT_EQ(reply.end, ProtocolReply::End::kClosed) << host << ": " << reply.error;
    EXPECT_EQ(reply.bytes, "OK") << host;
    EXPECT_EQ(server.Client(host).RunRaw("client1\tGetOK\r\n").bytes, "OK") << host;
    EXPECT_EQ(server.Client(host).RunRaw("GetOK\n").bytes, "") << host;
  }
}

}  // namespace
}  // namespace sqv64
