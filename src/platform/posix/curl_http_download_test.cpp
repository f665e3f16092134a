// The HTTP downloader against real servers on 127.0.0.1: nginx over HTTPS
// with certificates made for the test, a CONNECT proxy, and a listener that
// never answers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/http_download.h"
#include "support/temporary_folder.h"
#include "support/web_test_servers.h"

namespace sqv64::platform {
namespace {

using testing_support::ConnectTestProxy;
using testing_support::NginxTestServer;
using testing_support::TemporaryFolder;
using testing_support::TestCertificates;
using Outcome = HttpResult::Outcome;

const std::string kReport = "2020/09/14 08:00\nUUEE 140800Z 18003MPS CAVOK\n";

// A listening socket on 127.0.0.1 that never accepts: connections complete
// in the backlog and never get a byte.
class SilentListener {
 public:
  SilentListener() {
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(socket_, reinterpret_cast<sockaddr*>(&address), length);
    listen(socket_, 8);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { close(socket_); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/x.TXT"; }

 private:
  int socket_ = -1;
  std::uint16_t port_ = 0;
};

class HttpDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing_support::WebTestServersAvailable())
        << "nginx, openssl or python3 is missing: run scripts/install-deps.sh";
    certificates_ = new TestCertificates();
    served_ = new TemporaryFolder();
    served_->Write("stations/UUEE.TXT", kReport);
    served_->Write("big/UUEE.TXT", std::string(5000, 'x'));
    nginx_ = new NginxTestServer(
        {served_->path(), certificates_->server_certificate(), certificates_->server_key(),
         "    location = /moved/UUEE.TXT { return 302 /stations/UUEE.TXT; }\n"
         "    location = /loop/UUEE.TXT { return 302 /loop/UUEE.TXT; }\n"
         "    location = /plain/UUEE.TXT {\n"
         "      return 302 http://127.0.0.1:@PORT@/stations/UUEE.TXT;\n"
         "    }\n"});
    stranger_ = new NginxTestServer({served_->path(), certificates_->stranger_certificate(),
                                     certificates_->stranger_key(), ""});
  }
  static void TearDownTestSuite() {
    delete stranger_;
    delete nginx_;
    delete served_;
    delete certificates_;
  }

  HttpRequest RequestFor(const std::string& path) {
    HttpRequest request;
    request.url = nginx_->origin() + path;
    request.extra_ca_file = certificates_->ca().string();
    return request;
  }
  HttpResult Get(const HttpRequest& request) {
    auto file = DefaultPlatform().OpenFile(destination_, FileAccess::kWrite, FileShare::kRead,
                                           FileCreation::kCreateAlways);
    HttpResult result = downloader_->Get(request, *file);
    file->Close();
    return result;
  }
  std::string Body() { return local_.Read("body"); }

  static TestCertificates* certificates_;
  static TemporaryFolder* served_;
  static NginxTestServer* nginx_;
  static NginxTestServer* stranger_;
  TemporaryFolder local_;
  std::string destination_ = (local_.path() / "body").string();
  std::unique_ptr<HttpDownloader> downloader_ = CreateHttpDownloader();
};

TestCertificates* HttpDownloadTest::certificates_ = nullptr;
TemporaryFolder* HttpDownloadTest::served_ = nullptr;
NginxTestServer* HttpDownloadTest::nginx_ = nullptr;
NginxTestServer* HttpDownloadTest::stranger_ = nullptr;

TEST_F(HttpDownloadTest, AFetchBringsTheBodyAndValidatorsThatMakeTheNextOneConditional) {
  HttpResult first = Get(RequestFor("/stations/UUEE.TXT"));
  ASSERT_EQ(first.outcome, Outcome::kCompleted) << first.error;
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(Body(), kReport);
  EXPECT_NE(first.last_modified, "");
  EXPECT_NE(first.etag, "");

  for (auto [since, tag] :
       {std::pair{first.last_modified, std::string()}, std::pair{std::string(), first.etag}}) {
    HttpRequest request = RequestFor("/stations/UUEE.TXT");
    request.if_modified_since = since;
    request.if_none_match = tag;
    HttpResult again = Get(request);
    EXPECT_EQ(again.outcome, Outcome::kCompleted) << again.error;
    EXPECT_EQ(again.status, 304);
    EXPECT_EQ(Body(), "");
  }
  HttpResult missing = Get(RequestFor("/stations/ZZZZ.TXT"));
  EXPECT_EQ(missing.outcome, Outcome::kCompleted);
  EXPECT_EQ(missing.status, 404);
}

TEST_F(HttpDownloadTest, OnlyCertificatesOfTheSystemOrTheExtraFileAreTrusted) {
  HttpRequest system_only = RequestFor("/stations/UUEE.TXT");
  system_only.extra_ca_file.clear();
  EXPECT_EQ(Get(system_only).outcome, Outcome::kFailed);

  HttpRequest stranger = RequestFor("/stations/UUEE.TXT");
  stranger.url = stranger_->origin() + "/stations/UUEE.TXT";
  HttpResult result = Get(stranger);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error, "");
  EXPECT_EQ(Body(), "");
}

TEST_F(HttpDownloadTest, RedirectsAreFollowedOnlyWithinHttpsAndOnlyFiveTimes) {
  HttpResult moved = Get(RequestFor("/moved/UUEE.TXT"));
  EXPECT_EQ(moved.outcome, Outcome::kCompleted) << moved.error;
  EXPECT_EQ(moved.status, 200);
  EXPECT_EQ(Body(), kReport);
  EXPECT_EQ(Get(RequestFor("/plain/UUEE.TXT")).outcome, Outcome::kFailed);
  EXPECT_EQ(Get(RequestFor("/loop/UUEE.TXT")).outcome, Outcome::kFailed);
  HttpRequest other_scheme = RequestFor("/stations/UUEE.TXT");
  other_scheme.url = "file:///etc/passwd";
  EXPECT_EQ(Get(other_scheme).outcome, Outcome::kFailed);
  EXPECT_EQ(Body(), "");
}

TEST_F(HttpDownloadTest, ABodyPastTheCapIsCutOff) {
  HttpRequest request = RequestFor("/big/UUEE.TXT");
  request.max_body_bytes = 4999;
  EXPECT_EQ(Get(request).outcome, Outcome::kTooLarge);
  EXPECT_LE(Body().size(), 4999u);
  request.max_body_bytes = 5000;
  EXPECT_EQ(Get(request).outcome, Outcome::kCompleted);
  EXPECT_EQ(Body().size(), 5000u);
}

TEST_F(HttpDownloadTest, AProxyIsReachedWithConnectAndBasicAuthentication) {
  ConnectTestProxy proxy("ivan", "secret");
  HttpRequest request = RequestFor("/stations/UUEE.TXT");
  request.proxy = {"127.0.0.1", proxy.port(), "ivan", "secret"};
  HttpResult result = Get(request);
  EXPECT_EQ(result.outcome, Outcome::kCompleted) << result.error;
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(Body(), kReport);

  request.proxy.password = "wrong";
  EXPECT_NE(Get(request).status, 200);
  EXPECT_EQ(Body(), "");
  std::string target = "CONNECT 127.0.0.1:" + std::to_string(nginx_->port());
  EXPECT_EQ(proxy.Log(), (std::vector<std::string>{target + " 200", target + " 407"}));
}

TEST_F(HttpDownloadTest, AServerThatSendsNothingIsGivenUpAfterTheIdleTime) {
  SilentListener silent;
  HttpRequest request;
  request.url = silent.url();
  request.idle_timeout = std::chrono::seconds(1);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(request).outcome, Outcome::kFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
}

TEST_F(HttpDownloadTest, CancelEndsAHungFetchAtOnceAndEveryLaterOne) {
  SilentListener silent;
  HttpRequest request;
  request.url = silent.url();
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    downloader_->Cancel();
  });
  auto begin = std::chrono::steady_clock::now();
  HttpResult result = Get(request);
  canceller.join();
  EXPECT_EQ(result.outcome, Outcome::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(Get(RequestFor("/stations/UUEE.TXT")).outcome, Outcome::kCancelled);
}

}  // namespace
}  // namespace sqv64::platform
