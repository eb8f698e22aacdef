// Base of the simulated instruments: reads commands from a pseudo-terminal
// with the instrument's terminator, answers them through a protocol table,
// sends unsolicited lines and delayed notifications, records what arrived
// (with arrival times) and injects faults on request. In line-rate mode it
// paces both directions at the rate the host set the port to.
//
// Ownership and threads: the device owns its pty pair and one I/O thread,
// started by Start() and ended by Stop() (or the destructor). Every public
// member may be called from any thread; handlers run on the I/O thread and
// may call SendRaw*, Vanish and the record accessors, nothing that waits
// for the I/O thread.
#pragma once

#include "LineTiming.h"
#include "PtyPort.h"

#include <atomic>
#include <deque>
#include <exception>

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
    // The faults still armed, in the order they are tried, with the
    // pattern as given and the count still left.
    struct ArmedFaultInfo {
        std::string pattern;
        Fault fault;
    };
    std::vector<ArmedFaultInfo> ArmedFaults() const;

    // Line-rate mode. On, every byte the device sends reaches the host one
    // byte time (start, data, parity and stop bits at the port's baud rate,
    // read from the pty as the host set it) after the one before, the
    // host's bytes reach the device at the same rate, and a reply starts
    // its turnaround after the last byte of its command has arrived. Off
    // (the default), bytes cross as fast as the pty takes them and replies
    // go at once. Switching off sends what is still on its way at once.
    void SetLineRate(bool on);
    bool LineRate() const;
    // The time the instrument takes between the end of a command and the
    // first byte of its reply, in line-rate mode.
    void SetTurnaround(std::chrono::microseconds turnaround);
    std::chrono::microseconds Turnaround() const;

    // Bytes that crossed the line each way since the start or the last
    // reset: received from the host, and written to it; and the replies
    // sent (each had its turnaround in line-rate mode). In line-rate mode
    // also the most a byte went out after its time: a machine that holds
    // the I/O thread up opens gaps in a reply that a real line never has.
    struct Traffic {
        uint64_t received = 0;
        uint64_t sent = 0;
        uint64_t replies = 0;
        std::chrono::nanoseconds maxLate{0};
    };
    Traffic LineTraffic() const;
    void ResetTraffic();
    // Closes the device's side at once. From another thread it returns once
    // the port is closed.
    void Vanish();
    // True once the device has vanished (by Vanish() or by a fault).
    bool Vanished() const;
    // A vanished device comes back under the same COM number, on a fresh
    // pty, with its state as it was (a cable plugged in again); nothing
    // when it had not vanished. From another thread it returns once the
    // port is back; Port().SlavePath() changes, so read it only after.
    // Throws std::system_error when no pty can be had.
    void Reappear();

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
        std::string text;
        Fault fault;
    };
    // A byte of the host's on its way down the line.
    struct Arriving {
        char byte;
        Clock::time_point at;
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
    void ReadInput(bool lineRate);
    // Splits input into commands and serves them; `arrival` is when the
    // last of the bytes came.
    void AcceptInput(const std::string& bytes, Clock::time_point arrival);
    // Line-rate mode, I/O thread only: puts bytes due at `due` on the line,
    // hands over the host's bytes that have arrived by `now` (true when
    // there were any) and writes the device's bytes whose time has come.
    void QueueOnLine(Clock::time_point due, const std::string& bytes);
    bool DeliverArrived(Clock::time_point now);
    void WriteDueBytes(Clock::time_point now);
    void FlushLine();
    std::chrono::nanoseconds CurrentByteTime() const;
    void ArmTimer(std::optional<Clock::time_point> at);
    void VanishLocked();
    void ReappearLocked();
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
    bool m_reappearRequested = false;
    std::exception_ptr m_reappearError;
    bool m_running = false;   // the I/O thread is between start and exit
    bool m_vanished = false;
    std::thread::id m_ioThreadId;
    std::condition_variable m_vanishDone;
    bool m_lineRate = false;
    std::chrono::microseconds m_turnaround{0};
    Clock::time_point m_currentArrival;  // I/O thread only

    // The line in line-rate mode (I/O thread only, or while it is not
    // running): the device's bytes waiting to go with the time the next
    // one lands, and the host's bytes read but not yet arrived.
    std::deque<char> m_tx;
    Clock::time_point m_txNextAt;
    Clock::time_point m_txLineFree;
    std::chrono::nanoseconds m_txByteTime{0};
    bool m_txBlocked = false;
    std::deque<Arriving> m_rx;
    Clock::time_point m_rxLineFree;

    std::atomic<uint64_t> m_bytesReceived{0};
    std::atomic<uint64_t> m_bytesSent{0};
    std::atomic<uint64_t> m_replies{0};
    std::atomic<int64_t> m_maxLateNs{0};

    int m_wakeFd = -1;
    int m_timerFd = -1;
    std::thread m_thread;
};

}  // namespace sim
