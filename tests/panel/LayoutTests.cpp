// The layout manager's placement arithmetic and the looks' colour tables:
// the widget-free parts of the dialogs and views.
#include <gtest/gtest.h>

#include "LookColours.h"
#include "layout/AnchorGeometry.h"

using namespace layout;

namespace {

struct PlaceCase {
    unsigned anchors;
    QSize parent;
    QRect expected;
};

// The child (20,30 60x40) in a 200x100 parent: 120 from the right edge and
// 30 from the bottom.
class PlaceTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceTest, KeepsTheAnchoredDistances) {
    const AnchoredChild child{GetParam().anchors, QRect(20, 30, 60, 40), QSize(200, 100)};
    EXPECT_EQ(Place(child, GetParam().parent), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, PlaceTest,
    ::testing::Values(PlaceCase{0, {300, 160}, {20, 30, 60, 40}},
                      PlaceCase{AnchorLeft | AnchorTop, {300, 160}, {20, 30, 60, 40}},
                      PlaceCase{AnchorRight | AnchorBottom, {300, 160}, {120, 90, 60, 40}},
                      PlaceCase{AnchorLeft | AnchorRight, {300, 160}, {20, 30, 160, 40}},
                      PlaceCase{AnchorTop | AnchorBottom, {300, 160}, {20, 30, 60, 100}},
                      PlaceCase{AnchorCentreH | AnchorCentreV, {300, 160}, {70, 60, 60, 40}},
                      PlaceCase{AnchorCentreH | AnchorCentreV, {100, 50}, {-30, 5, 60, 40}},
                      // Opposite edges win over centring.
                      PlaceCase{AnchorLeft | AnchorRight | AnchorCentreH, {300, 100}, {20, 30, 160, 40}},
                      PlaceCase{AnchorRight | AnchorCentreV, {100, 160}, {-80, 60, 60, 40}},
                      // Shrunk past both distances: an empty child, not a negative one.
                      PlaceCase{0xF, {100, 50}, {20, 30, 0, 0}}));

TEST(LookColoursTest, KnownLooksHaveTheirColoursAndAnyOtherIdTheNeutralOnes) {
    EXPECT_EQ(lookcolours::ViewBackground(215), 0xFFADC3DDu);
    EXPECT_EQ(lookcolours::ViewBackground(216), 0xFF5A5A5Au);
    EXPECT_EQ(lookcolours::ViewBackground(0), 0xFFF0F0F0u);
    EXPECT_EQ(lookcolours::HeaderGradient(219).top, 0xFFFBFDFFu);
    EXPECT_EQ(lookcolours::HeaderGradient(219).bottom, 0xFFDCE7F5u);
    for (int other : {217, 1000}) {
        EXPECT_EQ(lookcolours::HeaderGradient(other).top, 0xFFF0FAFBu);
        EXPECT_EQ(lookcolours::HeaderGradient(other).bottom, 0xFFD0D4DDu);
    }
}

TEST(LookColoursTest, StatusPaneTurnsRedOnlyAboveSeventyFiveAndAnUnknownLookKeepsItsColour) {
    EXPECT_EQ(lookcolours::StatusPaneColour(215, 75.0, 0xFF123456u), 0xFF15428Bu);
    EXPECT_EQ(lookcolours::StatusPaneColour(216, 75.0, 0u), 0xFFFFFFFFu);
    EXPECT_EQ(lookcolours::StatusPaneColour(217, 75.0, 0u), 0xFF23262Au);
    EXPECT_EQ(lookcolours::StatusPaneColour(218, 20.0, 0u), 0xFF00156Eu);
    EXPECT_EQ(lookcolours::StatusPaneColour(219, 75.1, 0u), 0xFFFF0000u);
    EXPECT_EQ(lookcolours::StatusPaneColour(1000, 75.1, 0xFF123456u), 0xFFFF0000u);
    EXPECT_EQ(lookcolours::StatusPaneColour(1000, 75.0, 0xFF123456u), 0xFF123456u);
}

}  // namespace
