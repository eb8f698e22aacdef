// Base of the simulated instruments: reads commands from a pseudo-terminal
// with the instrument's terminator, answers them through a protocol table,
// sends unsolicited lines and delayed notifications, records what arrived
// (with arrival times) and injects faults on request.
#pragma once

#include "PtyPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

// What a command's reply suffers when a fault is armed for it.
enum class FaultKind {
    Late,             // the reply is sent delayMs later than it would be
    NoReply,          // nothing is sent
    Split,            // the reply goes out one byte at a time, gapMs apart
    Garbage,          // the reply is replaced by bytes that mean nothing
                      // (no digits, no '!') ending in the reply's own terminator
    WrongTerminator,  // the reply's terminator is replaced: CR -> LF, LF -> CR,
                      // CR LF -> LF CR
    Vanish,           // the device closes its side instead of answering
};
// Faults change the reply a handler returns; the handler still runs (except
// for Vanish), so the device's state and the notifications it schedules go
// on as if the command had been served.

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int delayMs = 0;   // Late
    int gapMs = 5;     // Split
    int count = 1;     // how many matching commands it affects; -1 for all
};

// A command as it arrived.
struct ReceivedCommand {
    std::string text;  // without the terminator
    Clock::time_point at;
};

class CSimDevice {
public:
    // A reply is the exact bytes to send, terminator included; nullopt sends
    // nothing.
    using Reply = std::optional<std::string>;
    using Handler = std::function<Reply(const std::smatch& match)>;

    // commandTerminator: what ends a command on the wire ("\r", or "\r\n"
    // for the supply).
    CSimDevice(const std::filesystem::path& portsFolder, unsigned comNumber,
               std::string commandTerminator);
    virtual ~CSimDevice();

    CSimDevice(const CSimDevice&) = delete;
    CSimDevice& operator=(const CSimDevice&) = delete;

    // Starts and stops the I/O thread. Derived classes call Stop() in their
    // destructor before their members go away.
    void Start();
    void Stop();

    const CPtyPort& Port() const { return m_port; }
    std::string ComName() const { return m_port.ComName(); }
    unsigned ComNumber() const { return m_port.ComNumber(); }

    // Protocol table: the first entry whose pattern matches the whole command
    // answers it. Commands nobody matches go to Unknown().
    void On(const std::string& pattern, Handler handler);

    // Bytes sent as they stand, now or after a delay (timed notifications
    // such as the end of a move).
    void SendRaw(const std::string& bytes);
    void SendRawAfter(std::chrono::milliseconds delay, const std::string& bytes);
    void SendRawAt(Clock::time_point due, const std::string& bytes);

    // Faults for commands matching `pattern` (whole-command regex).
    void InjectFault(const std::string& pattern, Fault fault);
    void ClearFaults();
    // Closes the device's side at once. From another thread it returns once
    // the port is closed.
    void Vanish();
    // True once the device has vanished (by Vanish() or by a fault).
    bool Vanished() const;

    // Everything received so far, in order.
    std::vector<ReceivedCommand> Received() const;
    void ClearReceived();
    // Waits until a command matching `pattern` has arrived (counting from
    // the start of the record) or the limit passes.
    bool WaitForCommand(const std::string& pattern, std::chrono::milliseconds limit);
    // Waits until at least `count` commands have been received.
    bool WaitForCount(size_t count, std::chrono::milliseconds limit);
    // Bytes received that did not (yet) form a command.
    std::string PendingInput() const;

protected:
    // Reply to a command no table entry matched; the default sends nothing.
    virtual Reply Unknown(const std::string& command);
    // When the command being handled arrived; for handlers, which run on
    // the I/O thread, to time their replies from.
    Clock::time_point CommandArrival() const { return m_currentArrival; }

private:
    struct Entry {
        std::regex pattern;
        Handler handler;
    };
    struct ArmedFault {
        std::regex pattern;
        Fault fault;
    };
    struct Pending {
        Clock::time_point due;
        std::string bytes;
        uint64_t seq;
    };

    void Run();
    void HandleCommand(const std::string& command);
    void Schedule(Clock::time_point due, std::string bytes);
    void WriteAll(const std::string& bytes);
    void Wake();
    void ReadInput();
    void VanishLocked();
    bool OnIoThread() const;

    CPtyPort m_port;
    std::string m_terminator;

    mutable std::mutex m_mutex;  // guards everything below
    std::condition_variable m_received;
    std::vector<Entry> m_table;
    std::vector<ArmedFault> m_faults;
    std::vector<ReceivedCommand> m_record;
    std::vector<Pending> m_pending;
    uint64_t m_seq = 0;
    std::string m_input;
    bool m_stop = false;
    bool m_vanishRequested = false;
    bool m_running = false;   // the I/O thread is between start and exit
    bool m_vanished = false;
    std::thread::id m_ioThreadId;
    std::condition_variable m_vanishDone;
    Clock::time_point m_currentArrival;  // I/O thread only

    int m_wakeFd = -1;
    std::thread m_thread;
};

}  // namespace sim
