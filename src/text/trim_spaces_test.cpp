#include "text/trim_spaces.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

TEST(TrimSpaces, RemovesOnlyOuterSpaceBytes) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
  EXPECT_EQ(TrimSpaces("\ta "), "\ta");
  EXPECT_EQ(TrimSpaces("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(AsciiCase, FoldsOnlyLatinLetters) {
  EXPECT_EQ(AsciiLowerCase("UUEE.TXT\xC0"), "uuee.txt\xC0");
  EXPECT_EQ(AsciiUpperCase("uuee.txt\xE0"), "UUEE.TXT\xE0");
  EXPECT_TRUE(EqualsIgnoringAsciiCase("fpcmUserSite", "FPCMUSERSITE"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC0", "\xE0"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("ab", "abc"));
}

}  // namespace
}  // namespace sqv64
