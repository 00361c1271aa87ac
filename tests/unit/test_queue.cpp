#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "transport/MsgQueue.h"

using namespace nurva;

namespace {
void PushBytes(TMsgQueue& q, std::initializer_list<uint8_t> b) { q.Push(std::data(b), static_cast<uint16_t>(b.size())); }
}  // namespace

TEST(MsgQueue, PushOfNothingQueuesNothingAndLeavesTheEvent) {
  TMsgQueue q;
  q.Push(nullptr, 0);
  EXPECT_EQ(q.Count(), 0);
  EXPECT_FALSE(q.Event().IsSet());
}

TEST(MsgQueue, PopSkipsTheHeaderAndCutsToTheCapacity) {
  struct Case {
    uint16_t capacity;
    uint16_t expect;
  };
  for (Case c : {Case{10, 3}, Case{3, 3}, Case{1, 1}, Case{0, 0}}) {
    TMsgQueue q;
    PushBytes(q, {0x03, 0x00, 'a', 'b', 'c'});
    uint8_t buf[10] = {};
    uint16_t size = c.capacity;
    q.Pop(buf, size);
    EXPECT_EQ(size, c.expect) << "capacity " << c.capacity;
    if (c.expect) {
      EXPECT_EQ(buf[0], 'a');
    }
    EXPECT_EQ(q.Count(), 0) << "the rest of the packet is lost with it";
  }
}

TEST(MsgQueue, PopOnEmptyGivesNothingAndResetsTheEvent) {
  TMsgQueue q;
  uint8_t buf[4];
  uint16_t size = 4;
  q.Pop(buf, size);
  EXPECT_EQ(size, 0);
  EXPECT_FALSE(q.Event().IsSet());
}

TEST(MsgQueue, EventMeansPushedSinceTheLastPop) {
  TMsgQueue q;
  PushBytes(q, {0, 0, 1});
  PushBytes(q, {0, 0, 2});
  EXPECT_TRUE(q.Event().IsSet());
  uint8_t b;
  uint16_t size = 1;
  q.Pop(&b, size);
  EXPECT_EQ(q.Count(), 1);
  EXPECT_FALSE(q.Event().IsSet()) << "every pop resets, even with packets left";
}

TEST(MsgQueue, FirstInFirstOut) {
  TMsgQueue q;
  for (uint8_t i = 0; i < 50; ++i) PushBytes(q, {0, 0, i});
  for (uint8_t i = 0; i < 50; ++i) {
    uint8_t b = 0xFF;
    uint16_t size = 1;
    q.Pop(&b, size);
    ASSERT_EQ(b, i);
  }
}

TEST(MsgQueue, ClearEmptiesAndLeavesNoStaleSignal) {
  TMsgQueue q;
  q.Clear();
  EXPECT_EQ(q.Count(), 0);
  PushBytes(q, {0, 0, 1});
  PushBytes(q, {0, 0, 2});
  q.Clear();
  EXPECT_EQ(q.Count(), 0);
  // A signal left over from the cleared packets would wake a reader for nothing.
  EXPECT_FALSE(q.Event().WaitFor(0));
}

TEST(MsgQueue, ReaderWakesForAPacketPushedByAnotherThread) {
  TMsgQueue q;
  auto start = std::chrono::steady_clock::now();
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PushBytes(q, {0, 0, 9});
  });
  EXPECT_TRUE(q.Event().WaitFor(2000));
  auto waited = std::chrono::steady_clock::now() - start;
  t.join();
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_EQ(q.Count(), 1);
}

TEST(MsgQueue, ConcurrentPushAndPopLoseNothing) {
  TMsgQueue q;
  constexpr int kN = 5000;
  std::thread producer([&] {
    for (int i = 0; i < kN; ++i) {
      uint8_t p[4] = {2, 0, static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8)};
      q.Push(p, 4);
    }
  });
  int next = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (next < kN && std::chrono::steady_clock::now() < deadline) {
    if (q.Count() == 0) {
      q.Event().WaitFor(10);
      continue;
    }
    uint8_t b[2];
    uint16_t size = 2;
    q.Pop(b, size);
    ASSERT_EQ(size, 2);
    ASSERT_EQ(b[0] | (b[1] << 8), next);
    ++next;
  }
  producer.join();
  EXPECT_EQ(next, kN);
}
