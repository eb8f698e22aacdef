// Shared test helpers (see TestSupport.h).
#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <unistd.h>

namespace testsupport {

namespace {
bool GetEnv(const char* name, std::string& value) {
    const char* v = std::getenv(name);
    if (!v) return false;
    value = v;
    return true;
}
void RestoreEnv(const char* name, bool had, const std::string& value) {
    if (had)
        setenv(name, value.c_str(), 1);
    else
        unsetenv(name);
}
}  // namespace

CTempXdg::CTempXdg() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_root = pattern;
    std::filesystem::create_directories(ConfigHome());
    std::filesystem::create_directories(DataHome());
    m_hadConfig = GetEnv("XDG_CONFIG_HOME", m_oldConfig);
    m_hadData = GetEnv("XDG_DATA_HOME", m_oldData);
    setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
    setenv("XDG_DATA_HOME", DataHome().c_str(), 1);
}

CTempXdg::~CTempXdg() {
    RestoreEnv("XDG_CONFIG_HOME", m_hadConfig, m_oldConfig);
    RestoreEnv("XDG_DATA_HOME", m_hadData, m_oldData);
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
}

std::filesystem::path CTempXdg::PortsFolder() const {
    return ConfigHome() / "Vandrel Scientific Ltd" / "ports";
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void CLatch::Signal() {
    // Notified under the lock: a waiter that sees the count may destroy the
    // latch as soon as it can take the mutex.
    std::lock_guard lock(m_mutex);
    ++m_count;
    m_cv.notify_all();
}

bool CLatch::WaitFor(int count, std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, limit, [&] { return m_count >= count; });
}

int CLatch::Count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testsupport
