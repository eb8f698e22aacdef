// Tests of the lamp shared by the simulated instruments.
#include "LampBus.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

TEST(LampBus, StartsDarkTracksStateAndNotifiesEveryListenerWhoMayReadTheBusBack) {
    sim::CLampBus bus;
    EXPECT_FALSE(bus.OutputOn());
    EXPECT_FALSE(bus.Lit());
    // What each listener saw: output on, amps, and the bus's Lit() read back.
    using Seen = std::vector<std::tuple<bool, double, bool>>;
    Seen first, second;
    // Reading the bus from a listener would deadlock if listeners ran
    // under the bus's lock.
    bus.Subscribe([&](bool on, double amps) { first.emplace_back(on, amps, bus.Lit()); });
    bus.Subscribe([&](bool on, double amps) { second.emplace_back(on, amps, bus.Lit()); });
    bus.SetState(true, 0.0);
    EXPECT_TRUE(bus.OutputOn());
    bus.SetState(true, 1.25);
    EXPECT_DOUBLE_EQ(bus.Amps(), 1.25);
    bus.SetState(false, 1.25);
    // Output on without current does not light the lamp.
    EXPECT_EQ(first, (Seen{{true, 0.0, false}, {true, 1.25, true}, {false, 1.25, false}}));
    EXPECT_EQ(second, first);
}

}  // namespace
