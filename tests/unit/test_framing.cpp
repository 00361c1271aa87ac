#include <gtest/gtest.h>

#include <vector>

#include "transport/Framing.h"

using namespace nurva;
using Bytes = std::vector<uint8_t>;

TEST(Framing, LengthPrefixLittleEndian) {
  struct Case {
    Bytes payload;
    Bytes frame;
  };
  const Case cases[] = {
      {{0x00, 0x49}, {0x02, 0x00, 0x00, 0x49}},
      {{0x02, 0x51}, {0x02, 0x00, 0x02, 0x51}},
      {{0x34, 0x12}, {0x02, 0x00, 0x34, 0x12}},
      {{0xFF, 0xFF, 0xFF, 0xFF}, {0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
      {{0x02, 0x41, 0x42}, {0x03, 0x00, 0x02, 0x41, 0x42}},
      {{}, {0x00, 0x00}},
  };
  for (const auto& c : cases) {
    uint8_t buf[kFrameBufferSize];
    size_t n = BuildFrame(c.payload.data(), c.payload.size(), buf);
    EXPECT_EQ(Bytes(buf, buf + n), c.frame);
  }
}

TEST(Framing, LargestPayloadFitsAndOneMoreDoesNot) {
  Bytes big(kMaxPayload, 0xAB);
  uint8_t buf[kFrameBufferSize];
  ASSERT_EQ(BuildFrame(big.data(), big.size(), buf), kFrameBufferSize);
  EXPECT_EQ(buf[0], 519 & 0xFF);
  EXPECT_EQ(buf[1], 519 >> 8);
  EXPECT_EQ(buf[kFrameBufferSize - 1], 0xAB);
  big.push_back(0);
  EXPECT_EQ(BuildFrame(big.data(), big.size(), buf), 0u);
}
