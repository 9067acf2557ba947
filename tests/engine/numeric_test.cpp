#include <gtest/gtest.h>

#include "engine/numeric.h"

using namespace orvalle;

TEST(Generaltext, SpecExamples) {
  EXPECT_EQ(generaltext(1234.5, 8), "1234.5");
  EXPECT_EQ(generaltext(0.0001, 8), "0.0001");
  EXPECT_EQ(generaltext(0.00001234, 8), "1.234E-5");
  EXPECT_EQ(generaltext(123456789, 8), "1.2345679E8");
}
