// The driver's end of a simulated instrument's line for tests: the slave
// side opened through the COMn link with plain POSIX calls, in raw mode,
// with reads that wait for a number of bytes or a hang-up within a limit.
#pragma once

#include "TestSupport.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace simtest {

class CSlaveLine {
public:
    explicit CSlaveLine(const std::filesystem::path& port);
    ~CSlaveLine();
    CSlaveLine(const CSlaveLine&) = delete;
    CSlaveLine& operator=(const CSlaveLine&) = delete;

    int Fd() const { return m_fd; }
    void Write(std::string_view bytes);
    // Waits for exactly `count` bytes; returns fewer when the limit passes
    // or the line hangs up first.
    std::string Read(size_t count, std::chrono::milliseconds limit = testsupport::kLimit) {
        return ReadUntil(count, {}, limit);
    }
    // Reads until the bytes end with `terminator`.
    std::string ReadLine(std::string_view terminator,
                         std::chrono::milliseconds limit = testsupport::kLimit) {
        return ReadUntil(SIZE_MAX, terminator, limit);
    }
    // True once the line reports a hang-up: POLLHUP, end of file or EIO.
    bool WaitForHangUp(std::chrono::milliseconds limit = testsupport::kLimit);

private:
    // The one read loop of Read and ReadLine: byte by byte until `count`
    // bytes or, if given, `terminator` at the end; fewer on time-out or hang-up.
    std::string ReadUntil(size_t count, std::string_view terminator,
                          std::chrono::milliseconds limit);

    int m_fd = -1;
};

}  // namespace simtest
