#include <gtest/gtest.h>

#include "paths/platform.h"

TEST(Platform, DefaultsAreHarmless) {
  EXPECT_FALSE(IsLeadByte(0x81));
  uint64_t a = TickCount();
  EXPECT_GE(TickCount(), a);
}
