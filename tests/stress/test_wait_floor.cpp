// The waits under the link's pauses and limits never end early: a pause of n ms lasts at
// least n ms, so the receive loop's 3 ms rest after each packet, and every receive limit,
// is as long as the protocol says.
#include <gtest/gtest.h>

#include <chrono>

#include "usbio/OsWait.h"

using namespace nurva::usbio;
using Clock = std::chrono::steady_clock;

TEST(WaitFloor, TimedWaitsLastTheirWholeTime) {
  TSimpleEvent event;
  ASSERT_TRUE(event.Valid());
  for (uint32_t ms : {1u, 2u, 3u, 7u, 20u}) {
    SCOPED_TRACE(ms);
    // Short waits again and again: a wait cut short by the part of a millisecond that has
    // gone before it starts shows in nearly every try.
    const int tries = ms <= 3 ? 30 : 3;
    for (int i = 0; i < tries; ++i) {
      const auto t0 = Clock::now();
      EXPECT_FALSE(event.WaitFor(ms));
      const auto t1 = Clock::now();
      WaitItem it = event.Item();
      EXPECT_EQ(WaitForAny(&it, 1, ms), kWaitTimedOut);
      const auto t2 = Clock::now();
      ASSERT_GE(t1 - t0, std::chrono::milliseconds(ms)) << "event wait, try " << i;
      ASSERT_GE(t2 - t1, std::chrono::milliseconds(ms)) << "wait for any, try " << i;
    }
  }
  // A set event still ends the wait at once.
  event.SetEvent();
  const auto t0 = Clock::now();
  EXPECT_TRUE(event.WaitFor(2000));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
}
