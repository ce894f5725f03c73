#include "dialogs/integer_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace varnex2::dialogs {
namespace {

TEST(IntegerText, StrictTakesSignAndDigitsOnlyWithinRange) {
  EXPECT_EQ(StrictInt32("0"), 0);
  EXPECT_EQ(StrictInt32("-5"), -5);
  EXPECT_EQ(StrictInt32("+28000"), 28000);
  EXPECT_EQ(StrictInt32("2147483647"), 2147483647);
  EXPECT_EQ(StrictInt32("-2147483648"), std::numeric_limits<std::int32_t>::min());
  for (const char* bad : {"", "-", "+", " 5", "5 ", "12a", "1.5", "2147483648", "-2147483649",
                          "99999999999999999999", "0x10", "--1"}) {
    EXPECT_FALSE(StrictInt32(QString::fromUtf8(bad)).has_value()) << bad;
  }
}

TEST(IntegerText, LenientReadsTheLeadingNumberOrZero) {
  EXPECT_EQ(LenientInt32("  -12abc"), -12);
  EXPECT_EQ(LenientInt32("abc"), 0);
  EXPECT_EQ(LenientInt32(""), 0);
  EXPECT_EQ(LenientInt32("+7"), 7);
  EXPECT_EQ(LenientInt32("30000.9"), 30000);
  EXPECT_EQ(LenientInt32("99999999999"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(LenientInt32("-99999999999"), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace varnex2::dialogs
