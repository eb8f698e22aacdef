// The timing of an asynchronous serial line: how the settings a host gave a
// port (baud rate, data bits, parity, stop bits) turn into the time one
// byte, or a run of bytes, takes on the wire. The simulated instruments use
// it to pace what crosses their pseudo-terminals at the rate a real cable
// would carry it; benchmarks use it for the wire time of what they sent.
//
// Plain values and free functions: no ownership, no threads. Reading the
// settings is one ioctl on the descriptor given, safe from any thread that
// may use that descriptor.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

namespace sim {

struct LineSettings {
    unsigned baud = 9600;
    unsigned dataBits = 8;
    bool parity = false;   // odd, even, mark and space all add one bit
    unsigned stopBits = 1;

    // Start bit, data bits, the parity bit if any, stop bits.
    unsigned BitsPerByte() const { return 1 + dataBits + (parity ? 1 : 0) + stopBits; }
    // Rounded to the nanosecond.
    std::chrono::nanoseconds ByteTime() const { return WireTime(1); }
    // Computed whole, so a long run does not add up a byte's rounding.
    std::chrono::nanoseconds WireTime(std::size_t bytes) const;
};

// The head unit's line as its driver sets it: 9600 baud, 8 data bits, no
// parity, 2 stop bits.
inline constexpr LineSettings kLine9600_8N2{9600, 8, false, 2};

// The settings of the terminal behind `fd` (either side of a pseudo-terminal
// pair gives the slave's settings, which are the ones the host set), with
// non-standard rates read exactly; nothing when they cannot be read or the
// rate is 0 (hang-up). A pseudo-terminal keeps the rate and the stop bits
// as set, but Linux's pty driver forces 8 data bits without parity, so
// that is what a pty reads back whatever the host asked for; every line in
// this system but a 7-bit or parity set-up is 8N1 or 8N2 anyway.
std::optional<LineSettings> ReadLineSettings(int fd);

}  // namespace sim
