#include "catalogue/size_text.h"

#include <gtest/gtest.h>

#include "fixtures/expected_catalogue.h"

namespace sqv64 {
namespace {

TEST(SizeText, WritesMebibytesWithAtMostTwoDecimals) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {0, "0 MB"},
      {4000, "0 MB"},
      {5242, "0 MB"},     // 0.004999...
      {5243, "0.01 MB"},  // 0.005000...
      {1048576, "1 MB"},
      {1572864, "1.5 MB"},
      {5000000, "4.77 MB"},
      {2 * 1048576, "2 MB"},
      {10 * 1048576 + 104858, "10.1 MB"},
      {131072, "0.13 MB"},  // exactly 0.125: a tie rounds up
      {1048575, "1 MB"},
      {3221225472ULL, "3072 MB"},  // 3 GiB: beyond 32 bits
      {0xFFFFFFFFFFFFFFFFULL, "17592186044416 MB"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
  }
}

// The decimal expansion and the test's integer model agree over a wide
// sweep of sizes, ties included.
TEST(SizeText, AgreesWithIntegerRounding) {
  for (std::uint64_t bytes = 0; bytes < 40ULL << 30; bytes = bytes * 3 / 2 + 4093) {
    ASSERT_EQ(SizeText(bytes), fixtures::ExpectedSizeText(bytes)) << bytes;
  }
  for (std::uint64_t hundredths = 0; hundredths < 5000; ++hundredths) {
    std::uint64_t tie = (hundredths * 2 + 1) * 1048576 / 200;
    for (std::uint64_t bytes = tie - 2; bytes <= tie + 2; ++bytes) {
      ASSERT_EQ(SizeText(bytes), fixtures::ExpectedSizeText(bytes)) << bytes;
    }
  }
}

}  // namespace
}  // namespace sqv64
