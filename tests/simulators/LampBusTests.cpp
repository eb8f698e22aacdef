// Tests of the lamp shared by the simulated instruments.
#include "LampBus.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(LampBus, StartsDarkTracksStateAndNotifiesEveryListenerWhoMayReadTheBusBack) {
    sim::CLampBus bus;
    EXPECT_FALSE(bus.OutputOn());
    EXPECT_FALSE(bus.Lit());
    struct Seen {
        bool on;
        double amps;
        bool lit;
    };
    std::vector<Seen> first, second;
    // Reading the bus from a listener would deadlock if listeners ran
    // under the bus's lock.
    bus.Subscribe([&](bool on, double amps) { first.push_back({on, amps, bus.Lit()}); });
    bus.Subscribe([&](bool on, double amps) { second.push_back({on, amps, bus.Lit()}); });
    bus.SetState(true, 0.0);
    EXPECT_TRUE(bus.OutputOn());
    EXPECT_FALSE(bus.Lit()) << "output on without current does not light the lamp";
    bus.SetState(true, 1.25);
    EXPECT_DOUBLE_EQ(bus.Amps(), 1.25);
    bus.SetState(false, 1.25);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_TRUE(first[1].on);
    EXPECT_DOUBLE_EQ(first[1].amps, 1.25);
    EXPECT_TRUE(first[1].lit);
    EXPECT_FALSE(first[2].on);
    EXPECT_FALSE(second[0].lit);
    EXPECT_TRUE(second[1].lit);
    EXPECT_FALSE(second[2].lit);
}

}  // namespace
