// What each quorvexctl subcommand does with the instruments.
#include "Commands.h"

#include <PsuDll/PsuDll.h>
#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>
#include <platform/OwnedHandle.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "AppPaths.h"
#include "AutoDetect.h"
#include "CalibrationData.h"
#include "CalibrationTransfer.h"
#include "Failure.h"
#include "InformationReader.h"
#include "LampRamp.h"
#include "Output.h"
#include "PortDiscovery.h"
#include "Progress.h"
#include "SettingsStorageIniFile.h"
#include "Version.h"

namespace quorvexctl {

namespace {

std::wstring Wide(const std::string& utf8) { return QString::fromStdString(utf8).toStdWString(); }
std::string Utf8(const std::wstring& wide) { return QString::fromStdWString(wide).toStdString(); }
QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

// Informational lines: left out under --quiet.
void Inform(const Context& c, const std::string& line) {
    if (!c.inv.quiet) std::fprintf(c.err, "%s\n", ForTerminal(line).c_str());
}

// Progress goes nowhere under --quiet.
std::FILE* ProgressOut(const Context& c) { return c.inv.quiet ? nullptr : c.err; }

void ThrowIfInterrupted(const Context& c, const std::string& what) {
    if (c.interrupts.Interrupted()) throw CFailure(kExitInterrupted, "interrupted: " + what);
}

// Runs a blocking library call on a thread of its own and waits for it
// together with the abort event: on a signal the instruments are
// disconnected at once, which ends the call's wait, and the subcommand ends
// as interrupted. `what` names the call in that message.
template <typename Call>
int Interruptibly(const Context& c, CInstruments& instruments, const std::string& what, Call call) {
    ThrowIfInterrupted(c, what.c_str());
    const platform::COwnedHandle done = platform::COwnedHandle::NewEvent(true);
    if (!done) throw CFailure(kExitFailed, what + ": cannot make an event");
    int result = 0;
    std::thread worker([&] {
        result = call();
        SetEvent(done.Get());
    });
    const HANDLE handles[] = {done.Get(), c.interrupts.AbortEvent()};
    const bool interrupted = WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0;
    if (interrupted) instruments.DisconnectAll();
    worker.join();
    if (interrupted) throw CFailure(kExitInterrupted, "interrupted: " + what);
    return result;
}

const char* StateName(portdiscovery::PortState state) {
    switch (state) {
        case portdiscovery::PortState::Busy: return "busy";
        case portdiscovery::PortState::NoPermission: return "no-permission";
        default: return "free";
    }
}

// The present ports the transport can open (COM1..COM127).
std::vector<portdiscovery::PortInfo> UsablePorts() {
    std::vector<portdiscovery::PortInfo> ports = portdiscovery::Discover();
    std::erase_if(ports, [](const portdiscovery::PortInfo& p) { return p.number < 1 || p.number > kMaxPort; });
    return ports;
}

int Ports(Context& c) {
    const std::vector<portdiscovery::PortInfo> ports = UsablePorts();
    if (c.inv.json) {
        QJsonArray list;
        for (const auto& p : ports)
            list.append(QJsonObject{{"port", Q("COM" + std::to_string(p.number))},
                                    {"number", p.number},
                                    {"device", Q(p.device)},
                                    {"description", Q(p.description)},
                                    {"state", StateName(p.state)},
                                    {"text", Q(portdiscovery::ItemText(p))}});
        PrintJson(c.out, QJsonObject{{"ports", list}});
    } else {
        for (const auto& p : ports) std::fprintf(c.out, "%s\n", ForTerminal(portdiscovery::ItemText(p)).c_str());
        if (ports.empty()) Inform(c, "No serial ports are present.");
    }
    return kExitOk;
}

// The control panel's Auto Detect on every free port, with its serial
// settings for each instrument.
int Scan(Context& c) {
    const std::vector<portdiscovery::PortInfo> ports = UsablePorts();
    const PortSettings settings = LoadPortSettings(c.inv);
    CProgress progress(ProgressOut(c), c.errIsTerminal);
    // The watch's thread is the only one that sees the signals; the tries
    // check this between ports.
    std::atomic<bool> cancel{false};
    const autodetect::Ports found = autodetect::Detect(
        ports, settings.head, settings.supply, settings.counter,
        [&](int done, int total, const std::string&) {
            cancel = c.interrupts.Interrupted();
            progress.Show("Scanning the ports", total ? done * 100 / total : 100);
        },
        cancel);
    progress.End();
    ThrowIfInterrupted(c, "the scan was stopped");
    const bool none = !found.head && !found.supply && !found.counter;
    // Under --json the failure's object is the one object printed.
    if (none && c.inv.json) throw CFailure(kExitNoInstrument, "no instrument answered on any free port");
    const struct {
        const char* key;
        const char* name;
        int port;
    } rows[] = {{"head", "Head unit:", found.head},
                {"supply", "Power supply:", found.supply},
                {"counter", "Counter:", found.counter}};
    if (c.inv.json) {
        QJsonObject json;
        for (const auto& row : rows)
            json[row.key] = row.port ? QJsonValue(Q("COM" + std::to_string(row.port))) : QJsonValue();
        PrintJson(c.out, json);
    } else {
        for (const auto& row : rows)
            std::fprintf(c.out, "%-14s %s\n", row.name,
                         row.port ? ("COM" + std::to_string(row.port)).c_str() : "not found");
    }
    if (none) throw CFailure(kExitNoInstrument, "no instrument answered on any free port");
    return kExitOk;
}

int Identify(Context& c) {
    CInstruments& instruments = c.Connect(CInstruments::kAll);
    QuorvexIdentificationStruct head;
    AgilentIdentificationStruct supply;
    EtcIdentificationStruct counter;
    CheckHead(Quorvex_GetIdentification(instruments.Head(), &head), "reading the head unit's identification");
    CheckSupply(Agilent_GetIdentification(instruments.Supply(), &supply), "reading the power supply's identification");
    CheckCounter(Etc_GetIdentification(instruments.Counter(), &counter), "reading the counter's identification");
    if (c.inv.json) {
        const QJsonObject json{
            {"head", QJsonObject{{"manufacturer", Q(head.manufacturer)}, {"model", Q(head.model)},
                                 {"firmware", Q(head.firmware)}, {"serialNumber", Q(head.serialNumber)},
                                 {"response", Q(head.response)}}},
            {"supply", QJsonObject{{"manufacturer", Q(supply.manufacturer)}, {"model", Q(supply.model)},
                                   {"mainVersion", Q(supply.mainVersion)}, {"ioRevision", Q(supply.ioRevision)},
                                   {"frontPanelRevision", Q(supply.frontPanelRevision)},
                                   {"response", Q(supply.response)}}},
            {"counter", QJsonObject{{"manufacturer", Q(counter.manufacturer)}, {"model", Q(counter.model)},
                                    {"firmwareRevision", Q(counter.firmwareRevision)},
                                    {"response", Q(counter.response)}}}};
        PrintJson(c.out, json);
    } else {
        std::fprintf(c.out, "Head unit:    %s %s, firmware %s, S/N %s\n", head.manufacturer.c_str(),
                     head.model.c_str(), head.firmware.c_str(), head.serialNumber.c_str());
        std::fprintf(c.out, "Power supply: %s %s, firmware %s-%s-%s\n", supply.manufacturer.c_str(),
                     supply.model.c_str(), supply.mainVersion.c_str(), supply.ioRevision.c_str(),
                     supply.frontPanelRevision.c_str());
        std::fprintf(c.out, "Counter:      %s %s, firmware %s\n", counter.manufacturer.c_str(), counter.model.c_str(),
                     counter.firmwareRevision.c_str());
    }
    return kExitOk;
}

// Every value is read even when one fails, so the output shows what could be
// read; the first failure then decides the exit code.
int Status(Context& c) {
    CInstruments& instruments = c.Connect(CInstruments::kAll);
    std::optional<CFailure> firstFailure;
    auto attempt = [&](auto check, int result, const char* what) {
        try {
            check(result, what);
            return true;
        } catch (const CFailure& failure) {
            if (!firstFailure) firstFailure = failure;
            return false;
        }
    };
    std::array<double, 4> t{};
    int position[2] = {0, 0};
    double current = 0, voltage = 0, seconds = 0;
    std::uint32_t cycles = 0;
    void* const head = instruments.Head();
    void* const supply = instruments.Supply();
    void* const counter = instruments.Counter();
    auto read = [&](const char* what, auto call) { return Interruptibly(c, instruments, what, call); };
    auto checkHead = [](int result, const std::string& what) { CheckHead(result, what); };
    const bool tOk = attempt(checkHead, read("reading the temperatures", [&] { return Quorvex_GetTemperature(head, t.data()); }),
                             "reading the temperatures");
    const bool pOk = attempt(checkHead, read("reading the aperture position", [&] { return Quorvex_GetPosition(head, position); }),
                             "reading the aperture position");
    const bool cOk = attempt(CheckSupply, read("measuring the lamp current", [&] { return Agilent_MeasureCurrent(supply, &current); }),
                             "measuring the lamp current");
    const bool vOk = attempt(CheckSupply, read("measuring the lamp voltage", [&] { return Agilent_MeasureVoltage(supply, &voltage); }),
                             "measuring the lamp voltage");
    const bool sOk = attempt(CheckCounter, read("reading the lamp hours", [&] { return Etc_GetElapsedTime(counter, &seconds); }),
                             "reading the lamp hours");
    const bool nOk = attempt(CheckCounter, read("reading the power cycles", [&] { return Etc_GetPowerCycleCount(counter, &cycles); }),
                             "reading the power cycles");

    if (c.inv.json) {
        // One object: the failure's, when a value could not be read.
        if (firstFailure) throw *firstFailure;
        QJsonObject json;
        json["temperatures"] = tOk ? QJsonValue(QJsonObject{{"bulbEnclosure", t[2]}, {"motorEnclosure", t[3]},
                                                            {"primaryMotor", t[0]}, {"secondaryMotor", t[1]}})
                                   : QJsonValue();
        json["current"] = cOk ? QJsonValue(current) : QJsonValue();
        json["voltage"] = vOk ? QJsonValue(voltage) : QJsonValue();
        json["lampSeconds"] = sOk ? QJsonValue(seconds) : QJsonValue();
        json["powerCycles"] = nOk ? QJsonValue(static_cast<qint64>(cycles)) : QJsonValue();
        json["position"] = pOk ? QJsonValue(QJsonObject{{"primary", position[0]}, {"secondary", position[1]}})
                               : QJsonValue();
        PrintJson(c.out, json);
    } else {
        const char* kUnread = "-";
        const information::TemperatureTexts texts = information::TemperatureFields(t);
        auto line = [&](const char* label, bool ok, const std::string& text) {
            std::fprintf(c.out, "%-19s %s\n", label, ok ? ForTerminal(text).c_str() : kUnread);
        };
        line("Bulb enclosure:", tOk, texts.bulbEnclosure);
        line("Motor enclosure:", tOk, texts.motorEnclosure);
        line("Primary motor:", tOk, texts.primaryMotor);
        line("Secondary motor:", tOk, texts.secondaryMotor);
        line("Lamp current:", cOk, information::CurrentText(current));
        line("Lamp voltage:", vOk, information::VoltageText(voltage));
        line("Lamp hours:", sOk, information::HourCountText(seconds));
        line("Power cycles:", nOk, information::PowerCyclesText(cycles));
        line("Aperture position:", pOk, std::to_string(position[0]) + "," + std::to_string(position[1]));
    }
    if (firstFailure) throw *firstFailure;
    return kExitOk;
}

void PrintPosition(Context& c, CInstruments& instruments) {
    int position[2] = {0, 0};
    void* const head = instruments.Head();
    CheckHead(Interruptibly(c, instruments, "reading the aperture position",
                            [&] { return Quorvex_GetPosition(head, position); }),
              "reading the aperture position");
    if (c.inv.json)
        PrintJson(c.out, QJsonObject{{"primary", position[0]}, {"secondary", position[1]}});
    else
        std::fprintf(c.out, "Aperture position: %d,%d\n", position[0], position[1]);
}

int Move(Context& c) {
    CInstruments& instruments = c.Connect(CInstruments::kHead);
    void* const head = instruments.Head();
    const std::string what =
        "moving the apertures to " + std::to_string(c.inv.primary) + "," + std::to_string(c.inv.secondary);
    CheckHead(Interruptibly(c, instruments, what,
                            [&] { return Quorvex_SetPosition(head, c.inv.primary, c.inv.secondary, 1, nullptr); }),
              what, head);
    PrintPosition(c, instruments);
    return kExitOk;
}

int Home(Context& c) {
    CInstruments& instruments = c.Connect(CInstruments::kHead);
    void* const head = instruments.Head();
    CheckHead(Interruptibly(c, instruments, "homing the apertures", [&] { return Quorvex_Home(head, 1, nullptr); }),
              "homing the apertures", head);
    PrintPosition(c, instruments);
    return kExitOk;
}

// `abortEvent` null: the ramp runs to its end whatever signal comes.
int RunRamp(Context& c, void* supply, int direction, int seconds, double current, double voltage,
            HANDLE abortEvent) {
    CProgress progress(ProgressOut(c), c.errIsTerminal);
    const std::string label = direction == lampramp::kUp ? "Ramping the lamp up" : "Ramping the lamp down";
    return lampramp::RunPercent(
        supply, direction, abortEvent, [&](int percent) { progress.Show(label, percent); }, seconds, current,
        voltage);
}

// A ramp-up starts at 0 A, so one of a lamp already ramped up (output on,
// current set above 0) would step it down at once: refused, as the control
// panel disables Ramp Up then.
void RefuseIfRampedUp(Context& c, CInstruments& instruments) {
    void* const supply = instruments.Supply();
    double current = 0.0;
    CheckSupply(Interruptibly(c, instruments, "reading the current set point",
                              [&] { return Agilent_GetCurrent(supply, &current); }),
                "reading the current set point");
    if (!(current > 0.0)) return;
    AgilentOutput output = AgilentOutput_Off;
    CheckSupply(Interruptibly(c, instruments, "reading the output state",
                              [&] { return Agilent_GetOutput(supply, &output); }),
                "reading the output state");
    if (output != AgilentOutput_On) return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "the lamp is already ramped up (output on, %.3f A set); ramp it down first", current);
    throw CFailure(kExitFailed, text);
}

// What the supply is set to after a ramp, read back from it.
void PrintRampResult(Context& c, CInstruments& instruments, bool up) {
    void* const supply = instruments.Supply();
    double current = 0, voltage = 0;
    CheckSupply(Interruptibly(c, instruments, "measuring the lamp current",
                              [&] { return Agilent_MeasureCurrent(supply, &current); }),
                "measuring the lamp current");
    CheckSupply(Interruptibly(c, instruments, "measuring the lamp voltage",
                              [&] { return Agilent_MeasureVoltage(supply, &voltage); }),
                "measuring the lamp voltage");
    PrintJson(c.out, QJsonObject{{"ramp", up ? "up" : "down"}, {"current", current}, {"voltage", voltage}});
}

int Ramp(Context& c) {
    CInstruments& instruments = c.Connect(CInstruments::kSupply);
    ThrowIfInterrupted(c, "nothing was sent to the lamp");
    const bool up = c.inv.command == Command::RampUp;
    if (up) RefuseIfRampedUp(c, instruments);
    const int seconds = c.inv.seconds.value_or(up ? lampramp::kRampUpSeconds : lampramp::kRampDownSeconds);
    // A ramp-down is never cut short: a lamp left part-way down is neither
    // off nor at its operating point. Signals that come meanwhile end the
    // program after it.
    const int result = RunRamp(c, instruments.Supply(), up ? lampramp::kUp : lampramp::kDown, seconds,
                               c.inv.current.value_or(lampramp::kRampUpCurrent),
                               c.inv.voltage.value_or(lampramp::kRampUpVoltage),
                               up ? c.interrupts.AbortEvent() : nullptr);
    if (result == lampramp::kCompleted) {
        if (c.inv.json) PrintRampResult(c, instruments, up);
        return kExitOk;
    }
    if (result == lampramp::kRefused)
        throw CFailure(kExitBusy, "the power supply refused the ramp (another ramp is running)");

    // A lamp left part-way up is brought back down, as the control panel
    // does; the supply makes way for it once the aborted step is sent.
    Inform(c, "Interrupted: ramping the lamp back down.");
    if (RunRamp(c, instruments.Supply(), lampramp::kDown, lampramp::kRampDownSeconds, 0, 0, nullptr) !=
        lampramp::kCompleted)
        throw CFailure(kExitInterrupted, "interrupted: the power supply refused the ramp-down; the lamp is still lit");
    throw CFailure(kExitInterrupted, "interrupted: the lamp was ramped back down");
}

void RequireReadable(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw CFailure(kExitBadArgument, "cannot read \"" + path + "\": no such file");
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) std::fclose(f);
    else throw CFailure(kExitBadArgument, "cannot read \"" + path + "\"");
}

// Reads an upload file as the upload will, with no head involved; a bad
// one is named with its first problem (a bad line, or no entry at all).
void RequireUsable(const std::string& path, QuorvexError (*check)(const wchar_t*, std::vector<std::string>*)) {
    RequireReadable(path);
    std::vector<std::string> errors;
    if (check(Wide(path).c_str(), &errors) == QuorvexSuccess) return;
    std::string message = "\"" + path + "\": " + (errors.empty() ? std::string("not a usable calibration file") : errors.front());
    if (errors.size() > 1) message += " (and " + std::to_string(errors.size() - 1) + " more problems)";
    throw CFailure(kExitBadArgument, message);
}

// Every output of a download is checked before the head is asked for
// anything, by one rule: an existing file is refused unless --force, and a
// file that could not be written fails now rather than after the others
// were.
void RequireWritable(const std::string& path, bool force) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) throw CFailure(kExitBadArgument, "\"" + path + "\" is a folder");
    if (std::filesystem::exists(status)) {
        if (!force) throw CFailure(kExitBadArgument, "\"" + path + "\" exists: give --force to overwrite it");
        if (access(path.c_str(), W_OK) != 0)
            throw CFailure(kExitBadArgument, "cannot write \"" + path + "\": " + std::strerror(errno));
        return;
    }
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    if (!std::filesystem::is_directory(folder, error))
        throw CFailure(kExitBadArgument, "cannot write \"" + path + "\": there is no folder \"" + folder.string() + "\"");
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        throw CFailure(kExitBadArgument, "cannot write \"" + path + "\": " + std::strerror(errno));
}

// Downloads both tables into the head library's copies and hands them over.
void DownloadTables(Context& c, void* head, QuorvexApertureTable& aperture, QuorvexSpectralTable& spectral) {
    CProgress progress(ProgressOut(c), c.errIsTerminal);
    const int result = calibrationtransfer::Download(
        head, c.interrupts.AbortEvent(), [&](const std::wstring& text, int percent) { progress.Show(Utf8(text), percent); });
    progress.End();
    ThrowIfInterrupted(c, "the download was aborted");
    if (result != calibrationtransfer::kCompleted) throw CFailure(kExitFailed, "the head unit did not send its tables");
    CheckHead(Quorvex_GetApertureCalibrationData(head, &aperture), "taking the aperture table");
    CheckHead(Quorvex_GetSpectralCalibrationData(head, &spectral), "taking the spectral table");
    // A fresh library holds no tables, so an empty one is one the head did not deliver.
    if (aperture.empty()) throw CFailure(kExitFailed, "the head unit sent no usable aperture table (see --log)");
    if (spectral.empty()) throw CFailure(kExitFailed, "the head unit sent no usable spectral table (see --log)");
}

// The aperture table in the form the upload reads ("rows,3", then one row a
// line), so that a downloaded table can go back to a head as it is. The head
// library's own save leaves out that first line.
bool WriteApertureUploadFile(const std::string& path, const QuorvexApertureTable& rows) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fprintf(file, "%zu,%u", rows.size(), kPrimaryPositions) > 0;
    for (const std::vector<double>& row : rows) {
        ok = ok && std::fputc('\n', file) != EOF;
        for (std::size_t i = 0; i < row.size(); ++i)
            ok = ok && std::fprintf(file, i ? ",%.3E" : "%.3E", row[i]) > 0;
    }
    return std::fclose(file) == 0 && ok;
}

int HeadSerialNumber(void* head) {
    QuorvexIdentificationStruct id;
    CheckHead(Quorvex_GetIdentification(head, &id), "reading the head unit's identification");
    int serialNumber = -1;
    if (std::sscanf(id.serialNumber.c_str(), "%d", &serialNumber) != 1) serialNumber = -1;
    return serialNumber;
}

int CalibrationDownload(Context& c) {
    for (const std::string* path : {&c.inv.csvPath, &c.inv.aperturePath, &c.inv.spectralPath})
        if (!path->empty()) RequireWritable(*path, c.inv.force);
    CInstruments& instruments = c.Connect(CInstruments::kHead);
    QuorvexApertureTable aperture;
    QuorvexSpectralTable spectral;
    DownloadTables(c, instruments.Head(), aperture, spectral);
    if (!c.inv.csvPath.empty()) {
        CCalibrationData data;
        data.FillFromHead(aperture, spectral);
        data.m_nSerialNumber = HeadSerialNumber(instruments.Head());
        if (!data.ExportCalibrationData(Wide(c.inv.csvPath)))
            throw CFailure(kExitFailed, "cannot write \"" + c.inv.csvPath + "\"");
        Inform(c, "Wrote " + c.inv.csvPath);
    }
    if (!c.inv.aperturePath.empty()) {
        if (!WriteApertureUploadFile(c.inv.aperturePath, aperture))
            throw CFailure(kExitFailed, "cannot write \"" + c.inv.aperturePath + "\"");
        Inform(c, "Wrote " + c.inv.aperturePath);
    }
    if (!c.inv.spectralPath.empty()) {
        // The head library writes only new files; --force was checked above.
        std::error_code ignored;
        if (c.inv.force) std::filesystem::remove(c.inv.spectralPath, ignored);
        CheckHead(Quorvex_SaveSpectralCalibrationData(instruments.Head(), Wide(c.inv.spectralPath).c_str()),
                  "writing \"" + c.inv.spectralPath + "\"");
        Inform(c, "Wrote " + c.inv.spectralPath);
    }
    if (c.inv.json) {
        QJsonObject written;
        if (!c.inv.csvPath.empty()) written["csv"] = Q(c.inv.csvPath);
        if (!c.inv.aperturePath.empty()) written["aperture"] = Q(c.inv.aperturePath);
        if (!c.inv.spectralPath.empty()) written["spectral"] = Q(c.inv.spectralPath);
        PrintJson(c.out, QJsonObject{{"written", written},
                                     {"apertureRows", static_cast<qint64>(aperture.size())},
                                     {"spectralPoints", static_cast<qint64>(spectral.size())}});
    }
    return kExitOk;
}

int CalibrationUpload(Context& c) {
    // Every file is read and checked first: a bad one fails before the head
    // is touched, and never after the other table was replaced.
    if (!c.inv.aperturePath.empty()) RequireUsable(c.inv.aperturePath, Quorvex_CheckApertureCalibrationFile);
    if (!c.inv.spectralPath.empty()) RequireUsable(c.inv.spectralPath, Quorvex_CheckSpectralCalibrationFile);
    CInstruments& instruments = c.Connect(CInstruments::kHead);
    calibrationtransfer::UploadRequest request;
    request.aperture = !c.inv.aperturePath.empty();
    request.aperturePath = Wide(c.inv.aperturePath);
    request.spectral = !c.inv.spectralPath.empty();
    request.spectralPath = Wide(c.inv.spectralPath);
    CProgress progress(ProgressOut(c), c.errIsTerminal);
    const bool ok = calibrationtransfer::Upload(instruments.Head(), request, c.interrupts.AbortEvent(),
                                                [&](const std::wstring& text, int percent) { progress.Show(Utf8(text), percent); });
    progress.End();
    ThrowIfInterrupted(c, "the upload was aborted; the head unit may hold part of a table");
    if (!ok) throw CFailure(kExitFailed, "the upload failed; the head unit may hold part of a table (see --log)");
    if (c.inv.json) {
        QJsonObject uploaded;
        if (request.aperture) uploaded["aperture"] = Q(c.inv.aperturePath);
        if (request.spectral) uploaded["spectral"] = Q(c.inv.spectralPath);
        PrintJson(c.out, QJsonObject{{"uploaded", uploaded}});
    }
    return kExitOk;
}

int CalibrationSave(Context& c) {
    std::wstring appData;
    if (!apppaths::GetApplicationDataFolder(appData))
        throw CFailure(kExitFailed, "there is no application data folder (set HOME or XDG_DATA_HOME)");
    const std::wstring folder = apppaths::DataFolder(appData);
    const std::wstring file = apppaths::JoinFile(folder, L"Calibration.ini");

    CInstruments& instruments = c.Connect(CInstruments::kHead);
    QuorvexApertureTable aperture;
    QuorvexSpectralTable spectral;
    DownloadTables(c, instruments.Head(), aperture, spectral);
    CCalibrationData data;
    data.FillFromHead(aperture, spectral);
    data.m_nSerialNumber = HeadSerialNumber(instruments.Head());
    if (data.m_nSerialNumber < 0)
        throw CFailure(kExitFailed, "the head unit's serial number is not a number; the control panel could not use the copy");

    const DWORD made = apppaths::CreateFolderTree(folder);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS)
        throw CFailure(kExitFailed, "cannot create \"" + Utf8(folder) + "\" (error " + std::to_string(made) + ")");
    CSettingsStorageIniFile storage(file, L"CalibrationData");
    if (!data.Save(storage)) throw CFailure(kExitFailed, "cannot write \"" + Utf8(file) + "\"");
    Inform(c, "Saved the calibration of S/N " + std::to_string(data.m_nSerialNumber) + " to " + Utf8(file));
    if (c.inv.json)
        PrintJson(c.out, QJsonObject{{"saved", Q(Utf8(file))}, {"serialNumber", data.m_nSerialNumber}});
    return kExitOk;
}

int Display(Context& c) {
    CInstruments& instruments = c.Connect(CInstruments::kSupply);
    if (c.inv.clearDisplay)
        CheckSupply(Agilent_ClearDisplayMessage(instruments.Supply(), 1, nullptr), "clearing the display");
    else
        CheckSupply(Agilent_SetDisplayMessage(instruments.Supply(), c.inv.displayText.c_str(), 1, nullptr),
                    "showing the message");
    if (c.inv.json)
        PrintJson(c.out, QJsonObject{{"display", c.inv.clearDisplay ? QJsonValue() : QJsonValue(Q(c.inv.displayText))}});
    return kExitOk;
}

int Help(Context& c) {
    const std::string text = c.inv.helpTopic.empty() ? HelpText() : SubcommandHelp(c.inv.helpTopic).value_or("");
    if (c.inv.json) PrintJson(c.out, QJsonObject{{"help", Q(text)}});
    else std::fputs(text.c_str(), c.out);
    return kExitOk;
}

int Version(Context& c) {
    const std::string version = Utf8(GetVersionString());
    if (c.inv.json) PrintJson(c.out, QJsonObject{{"version", Q(version)}});
    else std::fprintf(c.out, "quorvexctl %s\n", version.c_str());
    return kExitOk;
}

}  // namespace

int Run(Context& c) {
    switch (c.inv.command) {
        case Command::Help: return Help(c);
        case Command::Version: return Version(c);
        case Command::Scan: return Scan(c);
        case Command::Ports: return Ports(c);
        case Command::Identify: return Identify(c);
        case Command::Status: return Status(c);
        case Command::RampUp:
        case Command::RampDown: return Ramp(c);
        case Command::Move: return Move(c);
        case Command::Home: return Home(c);
        case Command::CalibrationDownload: return CalibrationDownload(c);
        case Command::CalibrationUpload: return CalibrationUpload(c);
        case Command::CalibrationSave: return CalibrationSave(c);
        case Command::Display: return Display(c);
        case Command::Batch: break;
    }
    return kExitOk;
}

}  // namespace quorvexctl
