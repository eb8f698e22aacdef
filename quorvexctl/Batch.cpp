// Reading and running a batch's lines.
#include "Batch.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "Commands.h"
#include "Failure.h"
#include "Output.h"

namespace quorvexctl {

namespace {

// Lines of a descriptor, read as they come (a pipe from a script that
// computes the next line from the last result), ended by a signal too.
class CLineReader {
public:
    CLineReader(int fd, const CInterruptWatch& interrupts) : m_fd(fd), m_interrupts(interrupts) {}

    // The next line without its end; nothing at the end of the input or
    // after a signal, even with lines still buffered: a signal that came
    // during a line that could not be cut short (a ramp-down) ends the batch
    // before the next line touches an instrument.
    std::optional<std::string> Next() {
        for (;;) {
            if (m_interrupts.Interrupted()) return std::nullopt;
            if (const auto end = m_buffer.find('\n'); end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            if (m_ended) {
                if (m_buffer.empty()) return std::nullopt;
                return std::exchange(m_buffer, {});
            }
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_interrupts.InterruptedFd(), POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                m_ended = true;
                continue;
            }
            if (fds[1].revents & POLLIN) return std::nullopt;
            char chunk[4096];
            const ssize_t got = read(m_fd, chunk, sizeof chunk);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) m_ended = true;
            else m_buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

private:
    const int m_fd;
    const CInterruptWatch& m_interrupts;
    std::string m_buffer;
    bool m_ended = false;
};

}  // namespace

int RunBatch(const Invocation& global, CInstruments& instruments, CInterruptWatch& interrupts, int in,
             std::FILE* out, std::FILE* err, bool errIsTerminal) {
    CLineReader reader(in, interrupts);
    int firstFailure = kExitOk;
    int number = 0;
    for (std::optional<std::string> line; (line = reader.Next());) {
        ++number;
        const std::string where = "line " + std::to_string(number) + ": ";
        int code = kExitOk;
        try {
            const std::optional<Invocation> inv = ParseBatchLine(*line, global);
            if (!inv) continue;
            Context context{*inv, instruments, interrupts, out, err, errIsTerminal};
            Run(context);
        } catch (const CFailure& failure) {
            code = failure.Code();
            ReportFailure(out, err, global.json, code, where + failure.what());
        }
        // Each result as soon as it is there, for a script reading the other end.
        std::fflush(out);
        if (code != kExitOk && firstFailure == kExitOk) firstFailure = code;
        if (code != kExitOk && (!global.keepGoing || code == kExitInterrupted)) return code;
    }
    if (interrupts.Interrupted()) {
        ReportFailure(out, err, global.json, kExitInterrupted,
                      "interrupted: the batch stopped after line " + std::to_string(number));
        return kExitInterrupted;
    }
    return firstFailure;
}

}  // namespace quorvexctl
