// Shared test helpers: private XDG folders per test, waiting on conditions
// with a deadline, and a latch for callbacks that arrive on other threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace testsupport {

using namespace std::chrono_literals;

// Generous limit for anything that should happen "soon": a fault fails the
// test instead of hanging it.
constexpr std::chrono::milliseconds kLimit = 10s;

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at fresh temporary folders for
// its lifetime (restoring the old values after), so tests never touch a
// user's settings, ports or calibration.
class CTempXdg {
public:
    CTempXdg();
    ~CTempXdg();
    CTempXdg(const CTempXdg&) = delete;
    CTempXdg& operator=(const CTempXdg&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path ConfigHome() const { return m_root / "config"; }
    std::filesystem::path DataHome() const { return m_root / "data"; }
    // Where the platform layer looks for COMn links.
    std::filesystem::path PortsFolder() const;

private:
    std::filesystem::path m_root;
    std::string m_oldConfig, m_oldData;
    bool m_hadConfig = false, m_hadData = false;
};

// Polls `condition` until it holds or `limit` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kLimit);

// Counts signals from any thread; tests wait for a number of them.
class CLatch {
public:
    void Signal();
    bool WaitFor(int count = 1, std::chrono::milliseconds limit = kLimit);
    int Count() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_count = 0;
};

std::string ReadFile(const std::filesystem::path& path);

}  // namespace testsupport
