// Calls made from the message pass that a channel call runs on its own thread (as the
// project download does every 32nd block): other channels run, the same channel is busy,
// and nothing waits for the list lock that the thread already holds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/api/api_fixture.h"
#include "tests/win32/HostLoop.h"
#include "usbio/OsThread.h"

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;
using host::MsSince;

namespace {

// A channel call whose command dispatches the thread's messages once, the way a long
// command keeps a host's user interface alive; `during` runs before that pass.
Answer CallWithMessagePass(int32_t channel, const std::function<void()>& during = {}) {
  Answer a{99, {}};
  char text[64] = "#";
  api::ChannelCall(channel, &a.res, text, true, [&](TUSBRdrLst&, int32_t& r) {
    if (during) during();
    usbio::DispatchPendingWindowMessages();
    r = 1;
    return std::string("outer done");
  });
  a.text = text;
  return a;
}

Answer Marked(int32_t channel, const char* mark) {
  Answer a{99, {}};
  char text[64] = "#";
  api::ChannelCall(channel, &a.res, text, true, [&](TUSBRdrLst&, int32_t& r) {
    r = 2;
    return std::string(mark);
  });
  a.text = text;
  return a;
}

class ChannelCallPass : public ApiTest {};

}  // namespace

TEST_F(ChannelCallPass, CallsFromItsMessagePassRunOnOtherChannelsAndFindTheirOwnBusy) {
  Discover(2);
  TUSBRdrLst* list = api::RdrList;
  host::HostWindow w;
  struct Got {
    std::string what;
    Answer a;
  };
  std::vector<Got> got;
  long nestedAbortMs = -1;
  w.onApp = [&](UINT) {
    got.push_back({"other channel", Marked(1, "ran on 1")});
    got.push_back({"same channel", Marked(0, "ran on 0")});
    got.push_back({"same channel export", Call(InitChannel, 0)});
    int32_t count = -1;
    char ids[128] = "#";
    GetProgIDs(&count, ids);
    got.push_back({"GetProgIDs", {count, ids}});
    got.push_back({"ClosePort", Call(ClosePort, 1)});
    const auto t0 = Clock::now();
    const int r = AbortAll();
    nestedAbortMs = MsSince(t0);
    got.push_back({"AbortAll", {r, {}}});
  };
  w.Post(WM_APP);
  Answer outer;
  {
    host::Watchdog dog(20s, "a channel call with exports called from its message pass");
    outer = CallWithMessagePass(0);
  }
  EXPECT_EQ(outer.text, "outer done");
  EXPECT_EQ(outer.res, 1);
  ASSERT_EQ(w.dispatched, 1);
  const std::vector<std::pair<std::string, Answer>> expected = {
      {"other channel", {2, "ran on 1"}},
      {"same channel", {5, "Busy"}},
      {"same channel export", {5, "Busy"}},
      {"GetProgIDs", {2, "00001000\r\n00001001"}},
      {"ClosePort", {0, "port closed"}},
      {"AbortAll", {0, ""}},
  };
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].what, expected[i].first);
    EXPECT_EQ(got[i].a.res, expected[i].second.res) << expected[i].first;
    EXPECT_EQ(got[i].a.text, expected[i].second.text) << expected[i].first;
  }
  EXPECT_LT(nestedAbortMs, 200) << "a nested AbortAll returns at once";
  EXPECT_EQ(api::RdrList, list) << "and leaves the list alone";
  EXPECT_FALSE(Link(0).busy.load()) << "the outer call cleared its busy mark";
  EXPECT_EQ(Marked(0, "again").text, "again");
}

TEST_F(ChannelCallPass, ANestedCallDoesNotQueueBehindAnotherThreadsDiscovery) {
  Discover(2);
  host::HostWindow w;
  Answer nested;
  w.onApp = [&](UINT) { nested = Marked(1, "ran on 1"); };
  std::atomic<bool> discoveryStarted{false};
  std::atomic<uint8_t> discovered{0xFF};
  std::thread other;
  Answer outer;
  {
    host::Watchdog dog(30s, "a nested call while another thread waits to run AbortAll");
    outer = CallWithMessagePass(0, [&] {
      other = std::thread([&] {
        discoveryStarted = true;
        discovered = AbortAll();  // waits until the outer call has left the list
      });
      while (!discoveryStarted) std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(200ms);  // AbortAll now waits for the list lock
      w.Post(WM_APP);
    });
    other.join();
  }
  EXPECT_EQ(outer.text, "outer done");
  EXPECT_EQ(nested.text, "ran on 1");
  EXPECT_EQ(nested.res, 2);
  EXPECT_EQ(discovered.load(), 0);
  int32_t count = -1;
  char ids[128];
  GetProgIDs(&count, ids);
  EXPECT_EQ(count, 2) << "the other thread's discovery ran once the outer call was done";
}
