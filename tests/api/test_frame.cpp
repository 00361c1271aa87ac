// The call pattern every channel export shares.
#include <atomic>
#include <thread>

#include "tests/api/api_fixture.h"

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;

namespace {

// Every channel export of this build, called with harmless arguments.
struct ChannelExport {
  const char* name;
  void (*call)(int32_t, int32_t*, char*);
};
const ChannelExport kChannelExports[] = {
    {"CheckProgrammer", CheckProgrammer},
    {"InitChannel", InitChannel},
    {"ReleaseTarget", ReleaseTarget},
    {"CheckDevice", CheckDevice},
    {"GetTargVolt", [](int32_t c, int32_t* r, char* t) {
       int32_t v = 7;
       GetTargVolt(c, &v, r, t);
     }},
    {"GetFuses", [](int32_t c, int32_t* r, char* t) {
       int32_t f = 7;
       GetFuses(c, 'L', &f, r, t);
     }},
};

}  // namespace

TEST_F(ApiTest, BeforeDiscoveryEveryChannelCallAnswersNotConnected) {
  for (const auto& e : kChannelExports) {
    Answer a = Call(e.call, 0);
    EXPECT_EQ(a.res, 5) << e.name;
    EXPECT_EQ(a.text, "USB not connected!!") << e.name;
  }
}

TEST_F(ApiTest, ChannelOutsideTheListIsIllegalAndSendsNothing) {
  Discover(2);
  for (const auto& e : kChannelExports) {
    for (int32_t ch : {2, -1, 16, INT32_MIN}) {
      Answer a = Call(e.call, ch);
      EXPECT_EQ(a.res, 3) << e.name << " " << ch;
      EXPECT_EQ(a.text, "illegal port number") << e.name << " " << ch;
    }
  }
  for (auto& p : peers) EXPECT_EQ(p->OutCount(), 0);
}

TEST_F(ApiTest, BusyChannelAnswersBusyAndKeepsTheMarkForItsOwner) {
  Discover(1);
  Link(0).busy = true;
  for (const auto& e : kChannelExports) {
    Answer a = Call(e.call, 0);
    EXPECT_EQ(a.res, 5) << e.name;
    EXPECT_EQ(a.text, "Busy") << e.name;
    EXPECT_TRUE(Link(0).busy.load()) << e.name;
  }
  EXPECT_EQ(peers[0]->OutCount(), 0);
  Link(0).busy = false;
  EXPECT_EQ(Call(InitChannel, 0).text, "prog OK");
  EXPECT_FALSE(Link(0).busy.load()) << "the call clears its own mark";
}

TEST_F(ApiTest, NullHostPointersNeverCrash) {
  for (int round = 0; round < 2; ++round) {
    for (const auto& e : kChannelExports) e.call(0, nullptr, nullptr);
    GetTargVolt(0, nullptr, nullptr, nullptr);
    GetFuses(0, 'H', nullptr, nullptr, nullptr);
    GetProgIDs(nullptr, nullptr);
    ClosePort(0, nullptr, nullptr);
    if (round == 0) Discover(1);
  }
  // The calls still did their work: the programmer was asked.
  EXPECT_GT(peers[0]->OutCount(), 0);
}

TEST_F(ApiTest, ManyThreadsOnOneChannelNeverRunTwoCommandsAtOnce) {
  Discover(1);
  // Each target check is two packets; its two replies come slowly, so an overlapping
  // second command would show as two 'Q' packets in a row.
  peers[0]->On({'c'}).Always().Send({Pkt({kACK}).After(1), Pkt({0}).After(1)});
  std::atomic<int> done{0}, busy{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 30; ++i) {
        Answer a = Call(CheckDevice, 0);
        if (a.text == "Busy") {
          ++busy;
          EXPECT_EQ(a.res, 5);
          std::this_thread::yield();
        } else {
          EXPECT_EQ(a.text, "empty");
          EXPECT_EQ(a.res, 1);
          ++done;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  auto outs = peers[0]->OutPayloads();
  ASSERT_EQ(outs.size(), static_cast<size_t>(2 * done.load()));
  for (size_t i = 0; i < outs.size(); i += 2) {
    ASSERT_EQ(outs[i], (Bytes{0x02, 'Q'})) << i;
    ASSERT_EQ(outs[i + 1], (Bytes{'c'})) << i;
  }
  EXPECT_GT(done.load(), 0);
  EXPECT_EQ(done.load() + busy.load(), 180);
}
