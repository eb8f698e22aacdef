// A blocking SCPI-over-TCP client for tests and benchmarks: lines out,
// LF-ended reply lines in, every read bounded by a deadline so that a
// server that never answers fails the caller instead of hanging it.
//
// Owned and used by one thread; the destructor closes the socket.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "TestSupport.h"

namespace testsupport {

class CScpiClient {
public:
    // Connects to 127.0.0.1:`port`; throws std::runtime_error when it cannot.
    explicit CScpiClient(int port);
    ~CScpiClient();
    CScpiClient(const CScpiClient&) = delete;
    CScpiClient& operator=(const CScpiClient&) = delete;

    // Sends the bytes as they are (no line end added); false when the
    // connection is gone.
    bool SendRaw(const std::string& bytes);
    bool Send(const std::string& line) { return SendRaw(line + "\n"); }
    // The next reply line without its LF; nothing at the deadline or when
    // the server closed the connection.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit = kLimit);
    // Send and ReadLine; "<no reply>" when none came, so that comparisons
    // print what went wrong.
    std::string Query(const std::string& line, std::chrono::milliseconds limit = kLimit);
    // True when the server closes the connection before the deadline.
    bool WaitForClose(std::chrono::milliseconds limit = kLimit);
    void Close();

private:
    int m_fd = -1;
    std::string m_buffer;
};

}  // namespace testsupport
