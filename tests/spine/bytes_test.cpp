#include <gtest/gtest.h>

#include "recmgr/bytes.h"

TEST(Bytes, LittleEndianRoundTrip) {
  uint8_t b[4] = {0, 0, 0, 0};
  StoreU16(b, 0x012C);
  EXPECT_EQ(b[0], 0x2C);
  EXPECT_EQ(b[1], 0x01);
  EXPECT_EQ(LoadU16(b), 0x012C);
  StoreU32(b, 0xFFFFFFFEu);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[3], 0xFF);
  EXPECT_EQ(LoadU32(b), 0xFFFFFFFEu);
  const uint8_t high[2] = {0xFF, 0xFF};
  EXPECT_EQ(LoadU16(high), 65535);  // never sign-extended
}
