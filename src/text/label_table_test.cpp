#include "text/label_table.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

const std::string kFileListRussian = "\xD1\xEF\xE8\xF1\xEE\xEA \xF4\xE0\xE9\xEB\xEE\xE2";

struct LabelCase {
  std::uint8_t language;
  std::int32_t id;
  std::string text;
};

class LabelLookup : public testing::TestWithParam<LabelCase> {};

TEST_P(LabelLookup, GivesTheTextByteForByte) {
  EXPECT_EQ(Label(GetParam().language, GetParam().id), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LabelLookup,
    testing::Values(LabelCase{0, 254, "File list"}, LabelCase{0, -254, kFileListRussian},
                    LabelCase{1, 254, kFileListRussian}, LabelCase{1, -254, "File list"},
                    LabelCase{0, 0, "---"}, LabelCase{0, -51, "---"}, LabelCase{0, 10030, "---"},
                    LabelCase{200, 50, "\xD2\xE8\xEF"}, LabelCase{0, -50, "Without name"},
                    LabelCase{0, 50, "A/C type"}, LabelCase{0, 8054, "archive"},
                    LabelCase{0, 258, "File copying from server "},
                    LabelCase{1, -255, "File copying from server database "}));

TEST(LabelTable, SaveWordsAreThirtyThreeBytesAndTheRussianOneStartsWithLatinC) {
  std::string english = Label(0, 256);
  std::string russian = Label(1, 256);
  EXPECT_EQ(english.size(), 33u);
  EXPECT_EQ(english.back(), ' ');
  ASSERT_EQ(russian.size(), 33u);
  EXPECT_EQ(russian[0], 'C');
  EXPECT_EQ(Label(0, -256), russian);
}

TEST(LabelTable, StandardTitlesComeFromTheEnglishColumn) {
  const char* titles[] = {"A/C type", "Reg.No.", "Note", "Date", "Flight", "Pilot", "Header"};
  for (int n = 0; n < 7; ++n) {
    EXPECT_EQ(Label(LabelLanguage, 50 + n), titles[n]);
  }
}

}  // namespace
}  // namespace sqv64
