// Calling the library's exports from end-to-end tests: a call's result code and text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "api/NURVA_DLL.h"

namespace nurva::test {

struct Answer {
  int32_t res;
  std::string text;
};

// Room for the longest answer text: the file list and the project report run past
// NURVA_TEXT_BUFFER_SIZE.
inline constexpr size_t kAnswerRoom = 4096;

// Calls `fn(channel, args..., &res, text)`. The result code starts as 99 and the buffer as
// '#' up to a final NUL, so a call that sets neither, or copies its text without the NUL,
// shows in the answer.
template <class Fn, class... A>
Answer Call(Fn fn, int32_t channel = 0, A... args) {
  Answer a{99, {}};
  std::string text(kAnswerRoom, '#');
  text.back() = '\0';
  fn(channel, args..., &a.res, text.data());
  a.text = text.c_str();
  return a;
}

}  // namespace nurva::test
