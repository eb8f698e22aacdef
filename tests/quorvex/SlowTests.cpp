// The 20 s limits on homing and moves: a head that acknowledges but never
// reports completion. Named Slow...: registered with the label "slow".
#include "QuorvexFixture.h"

namespace qvtest {
namespace {

TEST_F(QuorvexTest, SlowHomeAndMoveWithoutCompletionTimeOut) {
    Ceiling(3);
    ConnectOrFail();
    m_sim->SetNotifying(false);
    EXPECT_EQ(Quorvex_Home(m_handle, 1, nullptr), QuorvexErrorHomeTimeout);
    EXPECT_TRUE(WaitForLog(": No home complete response received."));
    EXPECT_EQ(Quorvex_SetPosition(m_handle, 2, 7, 1, nullptr), QuorvexErrorMoveTimeout);
    EXPECT_TRUE(WaitForLog(": No move complete response received."));
    // A completion that comes after the limit signals nothing.
    m_sim->SendRaw("!P:1\r");
    int pair[2];
    EXPECT_EQ(Quorvex_GetPosition(m_handle, pair), QuorvexSuccess);
}

}  // namespace
}  // namespace qvtest
