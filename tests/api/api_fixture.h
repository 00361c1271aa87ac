// Drives the exports against scripted programmers on a private bus.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"
#include "tests/support/ScriptedPeer.h"

namespace nurva::test {

// Result of one channel export.
struct Answer {
  int32_t res;
  std::string text;
};

class ApiTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Adds a programmer named `name` with `serial` as the next device.
  ScriptedPeer& AddProgrammer(uint32_t serial, std::string_view name = kModelProg);
  // Adds programmers and runs discovery; asserts that every one became a channel.
  void Discover(int programmers);
  TUSBreader& Link(int channel) { return *api::RdrList->GetItem(channel); }

  // Calls `fn(channel, &res, text)` with res preset to `preset`.
  template <class Fn>
  static Answer Call(Fn fn, int32_t channel, int32_t preset = 99) {
    Answer a{preset, {}};
    char text[NURVA_TEXT_BUFFER_SIZE] = "#";
    fn(channel, &a.res, text);
    a.text = text;
    return a;
  }

  TestBus bus;
  std::vector<std::unique_ptr<ScriptedPeer>> peers;
};

}  // namespace nurva::test
