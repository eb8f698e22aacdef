// The lamp ramp the ramp dialog runs: the supply's limits, then a ramp up to
// the lamp's operating point or down to zero, with its progress as a bar
// position.
//
// Ownership and threads: Run is called on a worker the caller owns and
// returns only when the ramp has completed, been aborted or was refused.
// The progress callable runs on PsuDll's ramping thread; it is never called
// once Run has returned, so it may refer to objects that live as long as
// the call.
#pragma once

#include <platform/win32.h>

#include <functional>

namespace lampramp {

constexpr double kVoltageLimit = 15.0;  // V, set before a ramp-up
constexpr double kCurrentLimit = 8.5;   // A, set before a ramp-up
constexpr double kRampUpCurrent = 8.333;
constexpr double kRampUpVoltage = 15.0;
constexpr int kRampUpSeconds = 15;
constexpr int kRampDownSeconds = 5;

constexpr int kUp = 0;
constexpr int kDown = 1;

// Results, as the dialog ends.
constexpr int kCompleted = 1;
constexpr int kAborted = 2;
// RunPercent only: the supply refused to start the ramp (Run gives kAborted).
constexpr int kRefused = 3;

// The bar position for a ramp's percent done: rounded half up; a ramp-down
// runs the bar backwards.
int Position(double percent, int direction);

// Ramps the lamp on `supply` up (kUp) or down (kDown). kCompleted when the
// ramp ran to its end; kAborted when `abortEvent` was signalled first or the
// supply refused the ramp (busy with another one, or a bad handle).
// `abortEvent` must be a manual-reset event, as the ramp itself watches it
// too. `seconds` 0 takes the ramp's fixed duration; `current` and `voltage`
// are the ramp-up's target (the limits stay).
int Run(void* supply, int direction, HANDLE abortEvent,
        const std::function<void(int position)>& progress, int seconds = 0,
        double current = kRampUpCurrent, double voltage = kRampUpVoltage);

// The same ramp for callers without the dialog's bar: `percentDone` gets
// 0, the percent done (rounded half up) and 100, in either direction. A ramp
// the supply would not start (another still running, a bad handle) gives
// kRefused.
int RunPercent(void* supply, int direction, HANDLE abortEvent,
               const std::function<void(int percent)>& percentDone, int seconds = 0,
               double current = kRampUpCurrent, double voltage = kRampUpVoltage);

}  // namespace lampramp
