#include "console/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace doppioni {
namespace {

TEST(Text, NumbersAsPrintfWritesThem) {
  std::string out;
  appendNumber(out, 0);
  out.push_back(' ');
  appendNumber(out, -1294967296);
  out.push_back(' ');
  appendNumber(out, INT64_MIN);
  EXPECT_EQ(out, "0 -1294967296 -9223372036854775808");
}

TEST(Text, PaddedAndTwoDigitFields) {
  std::string out;
  appendPadded(out, -4, 4);
  appendPadded(out, 10000, 4);
  appendPadded(out, 3, 3);
  appendTwoDigits(out, 7);
  appendTwoDigits(out, 12);
  EXPECT_EQ(out, "  -410000  30712");
}

}  // namespace
}  // namespace doppioni
