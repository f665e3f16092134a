#include "text/utc_text.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

using std::chrono::system_clock;

TEST(UtcText, MomentsAreWrittenAndReadToTheSecond) {
  struct Case {
    std::int64_t seconds;
    std::string text;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},
      {1607418307, "2020-12-08T09:05:07Z"},
      {1798761599, "2026-12-31T23:59:59Z"},
  };
  for (const Case& c : cases) {
    system_clock::time_point moment{std::chrono::seconds(c.seconds)};
    EXPECT_EQ(UtcText(moment + std::chrono::milliseconds(999)), c.text) << "cut, not rounded";
    EXPECT_EQ(ParseUtcText(c.text), moment) << c.text;
  }
}

TEST(UtcText, OtherTextsAreNoMoments) {
  for (const char* text : {"", "2020-12-08 09:05:07Z", "2020-12-08T09:05:07",
                           "2020-13-08T09:05:07Z", "2021-02-29T09:05:07Z", "2020-12-08T24:00:00Z",
                           "2020-12-08T09:05:07Z ", "20x0-12-08T09:05:07Z"}) {
    EXPECT_EQ(ParseUtcText(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace sqv64
