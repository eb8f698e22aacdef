// Tests of the lamp shared by the simulated instruments.
#include "LampBus.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(LampBus, StartsDarkAndTracksState) {
    sim::CLampBus bus;
    EXPECT_FALSE(bus.OutputOn());
    EXPECT_FALSE(bus.Lit());
    bus.SetState(true, 0.0);
    EXPECT_TRUE(bus.OutputOn());
    EXPECT_FALSE(bus.Lit()) << "output on without current does not light the lamp";
    bus.SetState(true, 2.5);
    EXPECT_DOUBLE_EQ(bus.Amps(), 2.5);
    EXPECT_TRUE(bus.Lit());
    bus.SetState(false, 2.5);
    EXPECT_FALSE(bus.Lit());
}

TEST(LampBus, NotifiesEveryListenerWhoMayReadTheBusBack) {
    sim::CLampBus bus;
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
    bus.SetState(true, 1.25);
    bus.SetState(false, 0.0);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_TRUE(first[0].on);
    EXPECT_DOUBLE_EQ(first[0].amps, 1.25);
    EXPECT_TRUE(first[0].lit);
    EXPECT_FALSE(first[1].on);
    EXPECT_FALSE(second[1].lit);
}

}  // namespace
