#include "protocol/status_command.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "protocol/testing/test_server.h"

namespace sqv64 {
namespace {

using Json = nlohmann::json;
using std::chrono::system_clock;

system_clock::time_point At(std::int64_t seconds) {
  return system_clock::time_point(std::chrono::seconds(seconds));
}

StatusFacts SomeFacts() {
  StatusFacts facts;
  facts.version = "1.0.0";
  facts.started = At(1607418307);
  facts.folder = "C:\\\xCF\xEE\xEB\xB8\xF2\xFB\\";  // "Полёты" in Windows-1251
  facts.free_bytes = 123456789;
  facts.data_files = 7;
  facts.weather.download_type = 0;
  facts.weather.transport = "ftp";
  facts.weather.airports = {"UUEE", "UUDD"};
  WeatherRunStatus failed{"station", At(1607418600), false,
                          "cannot connect to x port 21: timed out", 0};
  WeatherRunStatus worked{"cycle", At(1607415000), true, "", 12};
  facts.weather.last_station_run = failed;
  facts.weather.last_cycle_run = worked;
  facts.weather.last_run = failed;
  facts.weather.next_run_kind = "station";
  facts.weather.next_run = At(1607419500);
  facts.weather.last_reports = {{"UUEE", "2020/12/08 09:00", "UUEE 080900Z 18003MPS CAVOK"},
                                {"UUDD", "", ""}};
  return facts;
}

TEST(StatusDocument, SaysWhatTheServerAndTheWeatherAreDoing) {
  Json status = Json::parse(StatusDocument(SomeFacts()));
  EXPECT_EQ(status["version"], "1.0.0");
  EXPECT_EQ(status["started"], "2020-12-08T09:05:07Z");
  EXPECT_EQ(status["folder"], "C:\\Полёты\\") << "8-bit texts become UTF-8";
  EXPECT_EQ(status["free_bytes"], 123456789);
  EXPECT_EQ(status["data_files"], 7);
  EXPECT_TRUE(status["access_list"].is_null());
  const Json& weather = status["weather"];
  EXPECT_EQ(weather["transport"], "ftp");
  EXPECT_EQ(weather["airports"], Json({"UUEE", "UUDD"}));
  EXPECT_EQ(weather["last_run"]["result"], "failed");
  EXPECT_EQ(weather["last_run"]["error"], "cannot connect to x port 21: timed out");
  EXPECT_EQ(weather["last_station_run"]["time"], "2020-12-08T09:10:00Z");
  EXPECT_EQ(weather["last_cycle_run"]["result"], "succeeded");
  EXPECT_TRUE(weather["last_cycle_run"]["error"].is_null());
  EXPECT_EQ(weather["last_cycle_run"]["reports_filed"], 12);
  EXPECT_EQ(weather["next_run"], Json({{"kind", "station"}, {"time", "2020-12-08T09:25:00Z"}}));
  EXPECT_EQ(weather["last_reports"]["UUEE"]["time"], "2020/12/08 09:00");
  EXPECT_TRUE(weather["last_reports"]["UUDD"].is_null());
}

TEST(StatusDocument, NamesTheAccessListInForceAndWhatIsWrongWithIt) {
  StatusFacts facts = SomeFacts();
  facts.access = std::make_shared<AccessList>(AccessList::Parse("10.0.0.0/8 read\n::1 write\n"));
  Json access = Json::parse(StatusDocument(facts))["access_list"];
  EXPECT_EQ(access["only_loopback"], false);
  EXPECT_EQ(access["rules"], Json::parse(R"([{"network": "10.0.0.0/8", "access": "read"},
                                             {"network": "::1/128", "access": "write"}])"));
  facts.access = std::make_shared<AccessList>(AccessList::Parse("10.0.0.0/8 read\nbad\n"));
  access = Json::parse(StatusDocument(facts))["access_list"];
  EXPECT_EQ(access["only_loopback"], true);
  EXPECT_EQ(access["malformed_line"], 2);
  EXPECT_EQ(access["problem"], "line 2 is not a rule: \"bad\"");
  facts.access = std::make_shared<AccessList>(AccessList::EveryoneMayWrite());
  EXPECT_TRUE(Json::parse(StatusDocument(facts))["access_list"].is_null()) << "no file";
}

TEST(StatusDocument, NothingYetIsNull) {
  StatusFacts facts;
  facts.version = "1.0.0";
  Json weather = Json::parse(StatusDocument(facts))["weather"];
  EXPECT_TRUE(weather["last_run"].is_null());
  EXPECT_TRUE(weather["next_run"].is_null());
  EXPECT_TRUE(Json::parse(StatusDocument(facts))["free_bytes"].is_null());
}

TEST(GetStatus, TheServerAnswersWithTheDocument) {
  testing_support::TestServer server;
  server.store().Write("a.hdr", std::string(3424, 'x'));
  server.store().Write("b.quvx", "x");
  server.store().Write("notes.txt", "x");
  server.weather().status.transport = "ftp";
  server.platform().SetFreeBytes(5000);
  ProtocolReply reply = server.Client().Run("client", "GetStatus");
  ASSERT_EQ(reply.end, ProtocolReply::End::kClosed);
  Json status = Json::parse(reply.bytes);
  EXPECT_EQ(status["version"], ServerVersion());
  EXPECT_EQ(status["data_files"], 2);
  EXPECT_EQ(status["free_bytes"], 5000);
  EXPECT_EQ(status["weather"]["transport"], "ftp");
  EXPECT_EQ(server.weather().Calls(), std::vector<std::string>{"Status"});
  // The keyword is exact, as every other.
  EXPECT_EQ(server.Client().Run("client", "getstatus").bytes, "");
  EXPECT_EQ(server.Client().Run("client", "GetStatus ").bytes, "");
}

}  // namespace
}  // namespace sqv64
