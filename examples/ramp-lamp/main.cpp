// ramp-lamp: ramps the lamp up through its E3633A power supply and back down,
// printing the ramp's progress, with nothing but PsuDll's exports and the
// Win32 event calls its API takes (from the platform library it links).
//
//   ramp-lamp COM [SECONDS]    e.g. `ramp-lamp 2` with quorvex-sim running
#include <PsuDll/PsuDll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kLampCurrent = 8.333;  // A
constexpr double kLampVoltage = 15.0;   // V
constexpr int kDefaultSeconds = 5;

int Usage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: ramp-lamp COM [SECONDS]\n"
                 "Ramps the lamp on the E3633A supply at COM port number COM up to %.3f A at\n"
                 "%.1f V over SECONDS seconds (default %d), reads it, and ramps it down.\n",
                 kLampCurrent, kLampVoltage, kDefaultSeconds);
    return out == stdout ? 0 : 2;
}

// Starts a ramp through `start`, which is handed the progress printer, and
// waits for the ramp to signal `done`. One that has not completed long after
// its time is aborted, so none is left running.
template <typename Start>
bool RunRamp(const char* what, int seconds, HANDLE abort, HANDLE done, Start start) {
    ResetEvent(abort);
    ResetEvent(done);
    // Called on the ramping thread, before `done` is signalled; every tenth
    // of the way is enough to show.
    AgilentProgressCallback progress = [what, next = 0.0](double percent) mutable {
        if (percent < next) return;
        std::printf("%s: %3.0f%%\n", what, percent);
        std::fflush(stdout);
        while (next <= percent) next += 10.0;
    };
    bool completed = false;
    if (start(std::move(progress)) == AgilentSuccess) {
        completed = WaitForSingleObject(done, (seconds + 30) * 1000u) == WAIT_OBJECT_0;
        if (!completed) SetEvent(abort);
    }
    if (!completed) std::fprintf(stderr, "%s did not complete\n", what);
    return completed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")))
        return Usage(stdout);
    if (argc < 2 || argc > 3) return Usage(stderr);
    const int com = std::atoi(argv[1]);
    const int seconds = argc == 3 ? std::atoi(argv[2]) : kDefaultSeconds;
    if (com < 1 || seconds < 1) return Usage(stderr);

    // Both events outlive the ramps: an aborted ramp may still be ending
    // until Disconnect returns.
    const HANDLE abort = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    const HANDLE done = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    if (!abort || !done) return 1;

    // The supply talks 9600 baud, 8 data bits, no parity, 2 stop bits.
    const SerialPortSettingsStruct settings{com, 9600, 0, 8, 2, 0};
    void* supply = nullptr;
    if (Agilent_Connect(settings, &supply, 1, nullptr) != AgilentSuccess) {
        std::fprintf(stderr, "No power supply answered on COM%d\n", com);
        return 1;
    }
    AgilentIdentificationStruct id;
    if (Agilent_GetIdentification(supply, &id) == AgilentSuccess)
        std::printf("Connected to %s %s on COM%d\n", id.manufacturer.c_str(), id.model.c_str(), com);

    // Limits first, so the ramp can never drive the lamp past them.
    Agilent_SetVoltageLimit(supply, kLampVoltage, 1, nullptr);
    Agilent_SetCurrentLimit(supply, kLampCurrent + 0.2, 1, nullptr);
    bool ok = RunRamp("Ramp up", seconds, abort, done, [&](AgilentProgressCallback progress) {
        return Agilent_RampUpReportProgress(supply, kLampCurrent, kLampVoltage, seconds, abort, done,
                                            std::move(progress));
    });
    double amperes = 0.0, volts = 0.0;
    if (ok && Agilent_MeasureCurrent(supply, &amperes) == AgilentSuccess &&
        Agilent_MeasureVoltage(supply, &volts) == AgilentSuccess)
        std::printf("Lamp on: %.3f A at %.3f V\n", amperes, volts);

    // Down even after a failed ramp up, so the lamp is never left lit.
    ok = RunRamp("Ramp down", seconds, abort, done, [&](AgilentProgressCallback progress) {
             return Agilent_RampDownReportProgress(supply, seconds, abort, done, std::move(progress));
         }) && ok;
    Agilent_Disconnect(&supply, 1, nullptr);
    CloseHandle(abort);
    CloseHandle(done);
    std::printf("Disconnected\n");
    return ok ? 0 : 1;
}
