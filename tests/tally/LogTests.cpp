// The log set-up exports: the ceiling's range, values saved for devices
// connected later and applied at once even with none connected, and nothing
// written while the ceiling is 0.
#include "TallyFixture.h"

namespace tallytest {
namespace {

TEST_F(TallyTest, SavedSettingsReachADeviceConnectedLaterFromItsFirstEntry) {
    for (const uint32_t bad : {8u, 0xFFFFFFFFu}) EXPECT_EQ(Etc_SetLogCeiling(bad), EtcErrorInvalidParameter);
    // Still 7 from the set-up, which came before any device existed, so a
    // new device's very first entry already passes. The saved ceiling is
    // applied first and the saved path next; entries written before the
    // path was known still reach the file, in order.
    Connect();
    const std::string log = LogText();
    const std::string entry = ": Pantheios library initialized.\n";
    const auto initialized = log.find(entry);
    ASSERT_NE(initialized, std::string::npos);
    EXPECT_EQ(initialized + entry.size(), log.find('\n') + 1);
    EXPECT_EQ(log.find("]: "), log.find("]: CElapsedTimeCounter"));
    const auto ceiling = log.find(": Logging ceiling set to 7\n");
    const auto path = log.find(": Logfile path set to \"" + m_logPath.string() + "\"\n");
    ASSERT_NE(ceiling, std::string::npos);
    ASSERT_NE(path, std::string::npos);
    EXPECT_LT(initialized, ceiling);
    EXPECT_LT(ceiling, path);
    EXPECT_EQ(log.find("\n", ceiling) + 1, log.rfind("\n", path) + 1);
    EXPECT_EQ(log.find(": Logging ceiling set to 8"), std::string::npos);

    // A new path moves the entries of the devices already connected.
    const auto moved = m_xdg.Root() / "moved.log";
    ASSERT_EQ(Etc_SetLogfilePath(moved.wstring().c_str()), EtcSuccess);
    uint32_t cycles = 0;
    ASSERT_EQ(Etc_GetPowerCycleCount(m_handle, &cycles), EtcSuccess);
    const std::string movedLog = testsupport::ReadFile(moved);
    EXPECT_NE(movedLog.find(": Logfile path set to \"" + moved.string() + "\""), std::string::npos);
    EXPECT_NE(movedLog.find(": Getting the number of power cycles."), std::string::npos);
}

TEST_F(TallyTest, ADeviceWritesNothingWhileTheCeilingIsZero) {
    ASSERT_EQ(Etc_SetLogCeiling(0), EtcSuccess);
    Connect();
    m_sim->SetRawReply("T?", "xyz\r");
    double seconds = 0;
    EXPECT_EQ(Etc_GetElapsedTime(m_handle, &seconds), EtcErrorCommandFailed);
    EXPECT_EQ(LogText(), "");
}

}  // namespace
}  // namespace tallytest
