#include "console/text.h"

#include <gtest/gtest.h>

namespace doppioni {
namespace {

// The reports' tests show the usual numbers; these are the ones they never reach.
TEST(Text, ExtremesAndNumbersWiderThanTheirField) {
  std::string out;
  appendNumber(out, INT64_MIN);
  appendPadded(out, 10000, 4);
  appendPadded(out, -4, 2);
  appendTwoDigits(out, 123);
  EXPECT_EQ(out, "-922337203685477580810000-4123");
}

}  // namespace
}  // namespace doppioni
