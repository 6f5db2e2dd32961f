// Simulated time: order, cancellation and determinism of the event clock.

#include "sim/time/clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace quell::sim {
namespace {

TEST(ClockTest, EventsRunInTimeOrderAndTiesInSchedulingOrder) {
    Clock clock;
    std::vector<int> order;
    clock.ScheduleAt(300, [&] { order.push_back(3); });
    clock.ScheduleAt(100, [&] { order.push_back(1); });
    clock.ScheduleAt(100, [&] { order.push_back(2); });
    clock.AdvanceTo(250);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(clock.Now(), 250u);
    ASSERT_TRUE(clock.RunNext());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(clock.Now(), 300u);
    EXPECT_FALSE(clock.RunNext());
}

TEST(ClockTest, EventsScheduledByEventsRunWhenDueWithinTheSameAdvance) {
    Clock clock;
    std::vector<SimTime> seen;
    clock.ScheduleAt(10, [&] {
        seen.push_back(clock.Now());
        clock.ScheduleAfter(5, [&] { seen.push_back(clock.Now()); });
        clock.ScheduleAfter(50, [&] { seen.push_back(clock.Now()); });
    });
    clock.AdvanceTo(20);
    EXPECT_EQ(seen, (std::vector<SimTime>{10, 15}));
    EXPECT_EQ(clock.NextEventTime(), 60u);
}

TEST(ClockTest, CancelledEventsNeverRunAndThePastMeansNow) {
    Clock clock;
    int runs = 0;
    const auto id = clock.ScheduleAt(10, [&] { ++runs; });
    EXPECT_TRUE(clock.Cancel(id));
    EXPECT_FALSE(clock.Cancel(id));
    clock.AdvanceTo(100);
    EXPECT_EQ(runs, 0);
    clock.ScheduleAt(5, [&] { ++runs; });
    EXPECT_EQ(clock.NextEventTime(), 100u);
    clock.RunNext();
    EXPECT_EQ(runs, 1);
}

TEST(ClockTest, AdvancingFromInsideAnEventIsRefused) {
    Clock clock;
    clock.ScheduleAt(10, [&] { clock.Advance(5); });
    EXPECT_THROW(clock.AdvanceTo(20), std::logic_error);
}

}  // namespace
}  // namespace quell::sim
