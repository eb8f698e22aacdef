// bench_wire: the time each operation an operator starts takes at 9600 baud
// 8N2, against the three simulated instruments in line-rate mode (in this
// process, on COM1..COM3 of a private XDG folder), through the libraries'
// exports and, for connecting, the control panel's own connection sequence.
//
// For each operation it prints the bytes that crossed the line each way,
// the wire time those bytes need at 9600 8N2, the protocol's own waits (each
// reply's turnaround, the 250 ms of silence that ends a multi-line reply,
// the ramp's step intervals), the measured time and the ratio of the
// measured time to wire time plus waits. Everything runs on the main thread;
// the connection sequence's signals are handled by processing events.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "CalibrationTransfer.h"
#include "ConnectionController.h"
#include "DialogHost.h"
#include "InstrumentHandles.h"
#include "LineTiming.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "SimulatedInstruments.h"
#include "TallyDll/TallyDll.h"
#include "TestSupport.h"
#include "platform/win32.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr auto kSilence = 250ms;  // ends every multi-line reply

// The connect sequence's dialogs without widgets: the download runs as the
// dialog runs it, nothing else is asked for.
class CBenchDialogs : public IDialogHost {
public:
    int RunLampRamp(int, void*) override { return kCancel; }
    int RunDownload(void* head) override { return calibrationtransfer::Download(head, nullptr, {}); }
    int RunUpload(void*) override { return kCancel; }
};

struct Row {
    std::string name;
    uint64_t toDevice = 0, fromDevice = 0;
    Ms wire{}, waits{}, measured{};
    // A ramp writes its steps inside its own intervals: the wire time hides
    // in the waits instead of adding to them.
    bool overlapping = false;
    bool ok = true;

    double Expected() const { return overlapping ? std::max(wire, waits).count() : (wire + waits).count(); }
};

class CWireBench {
public:
    CWireBench() : m_controller(m_dialogs, [](int, const std::wstring&) {}) {
        for (sim::CSimDevice* device : Devices()) device->SetLineRate(true);
        // The real lines: 9600 baud, 8 data bits, no parity, 2 stop bits.
        for (SerialPortSettingsStruct* line : {&m_request.head, &m_request.supply, &m_request.counter})
            *line = SerialPortSettingsStruct{0, 9600, 0, 8, 2, 0};
        m_request.head.port = testsupport::CSimulatedInstruments::kHeadCom;
        m_request.supply.port = testsupport::CSimulatedInstruments::kSupplyCom;
        m_request.counter.port = testsupport::CSimulatedInstruments::kCounterCom;
    }

    std::vector<sim::CSimDevice*> Devices() { return {&m_sims.head, &m_sims.supply, &m_sims.counter}; }
    const testsupport::CSimulatedInstruments& Sims() const { return m_sims; }

    // Runs `operation` and counts what crossed the lines meanwhile.
    // `extraWaits` are the waits the operation itself makes on purpose.
    Row Measure(const std::string& name, const std::function<bool()>& operation, Ms extraWaits = Ms(0),
                Ms subtract = Ms(0), bool overlapping = false) {
        for (sim::CSimDevice* device : Devices()) {
            device->ResetTraffic();
            device->ClearReceived();
        }
        const auto start = Clock::now();
        Row row;
        row.name = name;
        row.overlapping = overlapping;
        row.ok = operation();
        row.measured = Ms(Clock::now() - start) - subtract;
        uint64_t downloads = 0;
        for (sim::CSimDevice* device : Devices()) {
            const auto traffic = device->LineTraffic();
            row.toDevice += traffic.received;
            row.fromDevice += traffic.sent;
            row.waits += Ms(device->Turnaround()) * static_cast<double>(traffic.replies);
            for (const auto& command : device->Received())
                if (command.text == "C0?" || command.text == "C1?") ++downloads;
        }
        row.wire = Ms(sim::kLine9600_8N2.WireTime(row.toDevice + row.fromDevice));
        row.waits += Ms(kSilence) * static_cast<double>(downloads) + extraWaits;
        return row;
    }

    bool Connect(bool stored) {
        m_request.storedSerialNumber = stored ? std::stoi(sim::HeadIdentity().serialNumber) : -1;
        m_request.apertureTableEmpty = m_request.spectralTableEmpty = !stored;
        return RunSequence([&] { return m_controller.Connect(m_request); }) && g_hQuorvex.load() &&
               g_hAgilent.load() && g_hEtc.load();
    }
    bool Disconnect() { return RunSequence([&] { return m_controller.Disconnect(); }); }

private:
    bool RunSequence(const std::function<bool()>& start) {
        if (!start()) return false;
        return testsupport::WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                return !m_controller.Busy();
            },
            120s);
    }

    testsupport::CSimulatedInstruments m_sims;
    CBenchDialogs m_dialogs;
    CConnectionController m_controller;
    ConnectRequest m_request;
};

void Print(const std::vector<Row>& rows) {
    std::printf("%-44s %8s %8s %9s %9s %10s %6s\n", "operation (9600 baud 8N2, line-rate simulators)", "to dev",
                "from dev", "wire ms", "waits ms", "measured", "ratio");
    for (const Row& row : rows) {
        const double expected = row.Expected();
        std::printf("%-44s %8llu %8llu %9.1f %9.1f %10.1f %6.2f%s\n", row.name.c_str(),
                    static_cast<unsigned long long>(row.toDevice), static_cast<unsigned long long>(row.fromDevice),
                    row.wire.count(), row.waits.count(), row.measured.count(),
                    expected > 0 ? row.measured.count() / expected : 0.0, row.ok ? "" : "  FAILED");
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    CWireBench bench;
    const std::wstring log = (bench.Sims().Xdg().Root() / "libraries.log").wstring();
    Quorvex_SetLogfilePath(log.c_str());
    Agilent_SetLogfilePath(log.c_str());
    Etc_SetLogfilePath(log.c_str());
    std::vector<Row> rows;

    rows.push_back(bench.Measure("connect, with the calibration download", [&] { return bench.Connect(false); }));
    rows.push_back(bench.Measure("disconnect", [&] { return bench.Disconnect(); }));
    rows.push_back(bench.Measure("reconnect, calibration already stored", [&] { return bench.Connect(true); }));

    void* head = g_hQuorvex.load();
    void* supply = g_hAgilent.load();
    rows.push_back(bench.Measure("spectral download (81 pairs)", [&] {
        return Quorvex_DownloadSpectralCalibrationData(head, 1, nullptr, nullptr) == QuorvexSuccess;
    }));
    rows.push_back(bench.Measure("aperture download (36 factors)", [&] {
        return Quorvex_DownloadApertureCalibrationData(head, 1, nullptr, nullptr) == QuorvexSuccess;
    }));
    const std::wstring spectralFile = (bench.Sims().Xdg().Root() / "spectral.txt").wstring();
    Quorvex_SaveSpectralCalibrationData(head, spectralFile.c_str());
    rows.push_back(bench.Measure("spectral upload (81 pairs)", [&] {
        return Quorvex_UploadSpectralCalibrationData(head, spectralFile.c_str(), 1, nullptr, nullptr) ==
               QuorvexSuccess;
    }));
    rows.push_back(bench.Measure("aperture upload (36 factors, held table)", [&] {
        return Quorvex_UploadApertureCalibrationData(head, L"", 1, nullptr, nullptr) == QuorvexSuccess;
    }));
    rows.push_back(bench.Measure("Quorvex_GetPosition", [&] {
        int position[2];
        return Quorvex_GetPosition(head, position) == QuorvexSuccess;
    }));
    // The simulated wheels take this long after the acknowledgement.
    const auto moveTime = 900ms;
    bench.Devices()[0]->ClearFaults();
    static_cast<sim::CHeadSimulator*>(bench.Devices()[0])->SetMotionTimes(2500ms, moveTime);
    rows.push_back(bench.Measure(
        "aperture move to (2,7), less the motor's 900 ms",
        [&] { return Quorvex_SetPosition(head, 2, 7, 1, nullptr) == QuorvexSuccess; }, Ms(0), Ms(moveTime)));
    // A 1 s ramp: 50 steps 20 ms apart, about the wire time of one
    // "CURR x.xxx" at 9600 baud; the panel's 15 s ramp has 300 ms.
    rows.push_back(bench.Measure(
        "lamp ramp-up over 1 s (50 current steps)",
        [&] { return Agilent_RampUp(supply, 8.333, 15.0, 1, nullptr, 1, nullptr) == AgilentSuccess; }, Ms(1000),
        Ms(0), true));
    rows.push_back(bench.Measure(
        "lamp ramp-down over 1 s (2 queries, 20 steps)",
        [&] { return Agilent_RampDown(supply, 1, nullptr, 1, nullptr) == AgilentSuccess; }, Ms(1000),
        Ms(0), true));
    rows.push_back(bench.Measure("disconnect", [&] { return bench.Disconnect(); }));

    Print(rows);
    std::printf("waits: turnaround per reply (head %lld us, supply %lld us, counter %lld us), %lld ms of silence\n"
                "after each multi-line reply, and a ramp's own step intervals (its steps go out inside them,\n"
                "so a ramp's ratio is to the larger of wire and waits); ratio = measured / (wire + waits)\n",
                static_cast<long long>(sim::CHeadSimulator::kTurnaround.count()),
                static_cast<long long>(sim::CPsuSimulator::kTurnaround.count()),
                static_cast<long long>(sim::CTallySimulator::kTurnaround.count()),
                static_cast<long long>(kSilence.count()));
    Quorvex_SetLogfilePath(L"");
    Agilent_SetLogfilePath(L"");
    Etc_SetLogfilePath(L"");
    for (const Row& row : rows)
        if (!row.ok) return 1;
    return 0;
}
