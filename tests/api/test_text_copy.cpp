#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/CallPattern.h"

using nurva::api::CopyText;

TEST(TextCopy, WholeTextThenOneNul) {
  struct Case {
    std::string text;
    size_t written;  // bytes written, NUL included
  };
  const Case cases[] = {
      {"", 1},
      {"Busy", 5},
      {std::string(300, 'x'), 301},
      {std::string("ab\0cd", 5), 3},  // up to the first NUL byte
  };
  for (const auto& c : cases) {
    std::vector<char> buf(400, '#');
    CopyText(c.text, buf.data());
    EXPECT_EQ(buf[c.written - 1], '\0');
    EXPECT_EQ(buf[c.written], '#') << "nothing past the NUL is touched";
    EXPECT_EQ(std::strlen(buf.data()), c.written - 1);
  }
}

TEST(TextCopy, NullBufferIsSkipped) { CopyText("text", nullptr); }
