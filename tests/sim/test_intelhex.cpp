// The tools' Intel HEX writer: what it writes reads back to the same image, its records
// stay within 64 KiB segments, and their checksums are right.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/common/IntelHex.h"

using namespace nurva;

TEST(IntelHex, WrittenTextReadsBackAsTheSameImage) {
  struct Case {
    uint32_t base;
    size_t size, perRecord;
  };
  const Case cases[] = {{0, 1, 16}, {0, 1024, 16}, {0x1FFF0, 40, 16}, {0xFFF9, 20, 32}, {0x12345, 300, 255}};
  for (const auto& c : cases) {
    hex::Image img{c.base, {}};
    for (size_t i = 0; i < c.size; ++i) img.data.push_back(static_cast<uint8_t>(i * 31 + 7));
    const std::string text = hex::Format(img, c.perRecord);
    std::string err;
    auto back = hex::Parse(text, &err);
    ASSERT_TRUE(back) << err;
    EXPECT_EQ(back->base, c.base);
    EXPECT_EQ(back->data, img.data);
    // Every data record stays inside its 64 KiB segment (Parse would wrap it otherwise).
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      const unsigned n = std::stoul(line.substr(1, 2), nullptr, 16), off = std::stoul(line.substr(3, 4), nullptr, 16);
      if (line.substr(7, 2) == "00") {
        EXPECT_LE(off + n, 0x10000u) << line;
      }
      EXPECT_LE(n, c.perRecord);
    }
  }
  EXPECT_EQ(hex::Format({0, {0x01, 0x02}}), ":020000000102FB\n:00000001FF\n");
}

TEST(IntelHex, NamesThatAreHex) {
  for (const char* n : {"a.hex", "B.HEX", "c.ihx", "d.IHex"}) EXPECT_TRUE(hex::IsHexName(n)) << n;
  for (const char* n : {"a.bin", "hex", "a.hex.bin", ""}) EXPECT_FALSE(hex::IsHexName(n)) << n;
}
