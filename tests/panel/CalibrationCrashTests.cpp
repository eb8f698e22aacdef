// Calibration.ini survives a save killed at any moment: a child process
// (CalibrationSaveChild.cpp) saves two calibrations of different sizes
// alternately and is killed with SIGKILL at random moments, a few hundred
// times; the file must then load as exactly one of them. Slow: it starts a
// process per kill.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <random>

#include <gtest/gtest.h>

#include "CalibrationData.h"
#include "CalibrationTestTables.h"
#include "SettingsStorageIniFile.h"
#include "TestSupport.h"
#include "platform/text.h"

extern char** environ;

namespace {

// The save child (CalibrationSaveChild.cpp) on a pipe that carries its
// progress bytes; killed and reaped when the test lets go of it.
class CSaveChild {
public:
    explicit CSaveChild(const std::filesystem::path& file) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        const std::string program = CALIBRATION_SAVE_CHILD, path = file.string();
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()), nullptr};
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_fd = fds[0];
    }
    ~CSaveChild() {
        Kill();
        if (m_fd >= 0) close(m_fd);
    }
    CSaveChild(const CSaveChild&) = delete;
    CSaveChild& operator=(const CSaveChild&) = delete;

    bool Started() const { return m_pid > 0 && m_fd >= 0; }
    // Reads the child's progress until it has completed `saves` saves or
    // `deadline` passes; true when it has. False at once when the child has
    // gone.
    bool WaitForSaves(int saves, std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            if (m_nSaves >= saves) return true;
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= left.zero()) return false;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            const timespec timeout{static_cast<time_t>(ns / 1000000000),
                                   static_cast<long>(ns % 1000000000)};
            pollfd fd{m_fd, POLLIN, 0};
            if (ppoll(&fd, 1, &timeout, nullptr) < 0) return false;
            if (fd.revents == 0) continue;
            char bytes[256];
            const ssize_t n = read(m_fd, bytes, sizeof bytes);
            if (n <= 0) return false;
            m_nSaves += static_cast<int>(n);
        }
    }
    int Saves() const { return m_nSaves; }
    // SIGKILL and reap; the wait status.
    int Kill() {
        if (m_pid <= 0) return 0;
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    int m_nSaves = 0;
};

class CalibrationCrashTest : public ::testing::Test {
protected:
    std::filesystem::path Folder() const { return m_folders.DataHome(); }
    std::filesystem::path Path() const { return Folder() / "Calibration.ini"; }
    static bool Save(CCalibrationData& data, const std::filesystem::path& path) {
        CSettingsStorageIniFile storage(platform::FromUtf8(path.string()), L"CalibrationData");
        return data.Save(storage);
    }
    static bool Load(CCalibrationData& data, const std::filesystem::path& path) {
        CSettingsStorageIniFile storage(platform::FromUtf8(path.string()), L"CalibrationData");
        return data.Load(storage);
    }

    testsupport::CTempXdg m_folders;
};

}  // namespace

// A child saves A and B alternately and is killed at a random moment, most
// often part-way through a save: the file must then load as exactly one of
// them, never as a mix, never with an error. A file byte for byte the same
// as A or B saved alone loads as exactly A or B (checked first), so the full
// load, slow under the sanitizers, is left for files that are not.
TEST_F(CalibrationCrashTest, SaveKilledAtRandomMomentsLeavesTheOldOrTheNewCalibrationWhole) {
    using namespace std::chrono;
    // Each table saved alone, what a load gives back (four digits), and the
    // time one save takes, which sets the span the kills land in.
    std::string expected[2], bytes[2];
    steady_clock::duration saveTime{};
    for (int i = 0; i < 2; ++i) {
        const std::filesystem::path alone = m_folders.Root() / (i ? "B.ini" : "A.ini");
        CCalibrationData table = i ? calibrationtables::TableB() : calibrationtables::TableA();
        const auto start = steady_clock::now();
        ASSERT_TRUE(Save(table, alone));
        saveTime = std::max(saveTime, steady_clock::now() - start);
        CCalibrationData loaded;
        ASSERT_TRUE(Load(loaded, alone));
        expected[i] = calibrationtables::Describe(loaded);
        bytes[i] = testsupport::ReadFile(alone);
    }
    ASSERT_NE(expected[0], expected[1]);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> span(0, 3 * duration_cast<microseconds>(saveTime).count());
    constexpr int kRounds = 300;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CSaveChild child(Path());
        ASSERT_TRUE(child.Started());
        // The first save makes the file; the kill then lands anywhere in
        // the following saves.
        ASSERT_TRUE(child.WaitForSaves(1, steady_clock::now() + testsupport::kLimit));
        child.WaitForSaves(INT_MAX, steady_clock::now() + microseconds(span(random)));
        const int status = child.Kill();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child ended " << status;

        const std::string file = testsupport::ReadFile(Path());
        if (file != bytes[0] && file != bytes[1]) {
            CCalibrationData loaded;
            ASSERT_TRUE(Load(loaded, Path()));
            const std::string got = calibrationtables::Describe(loaded);
            ASSERT_TRUE(got == expected[0] || got == expected[1])
                << "after " << child.Saves() << " saves:\n" << got;
        }
        // The next save clears a temporary file a killed one left.
        EXPECT_LE(std::distance(std::filesystem::directory_iterator(Folder()), {}), 2);
    }
}
