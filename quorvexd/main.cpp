// quorvexd: the light source's three instruments served to many network
// clients at once as one SCPI instrument.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <filesystem>

#include <QCoreApplication>

#include "AppPaths.h"
#include "AppSettings.h"
#include "DriverLogSetup.h"
#include "InstrumentHub.h"
#include "Options.h"
#include "PortErrorGate.h"
#include "ProgramLog.h"
#include "Server.h"
#include "SettingsStorageRegistry.h"
#include "StopSignals.h"
#include "Version.h"
#include "serial/DriverLog.h"

using namespace quorvexd;

namespace {

constexpr int kExitCannotListen = 1;
constexpr int kExitBadArgument = 2;

PortSettings LoadPorts(const Options& options) {
    CAppSettings app;
    app.Reset();
    // A missing key leaves the defaults, as it does for the control panel.
    app.Load(*CSettingsStorageRegistry::ForApplicationSettings());
    PortSettings ports{app.m_quorvexSerialSettings, app.m_agilentSerialSettings, app.m_etcSerialSettings};
    if (options.headPort) ports.head.port = *options.headPort;
    if (options.supplyPort) ports.supply.port = *options.supplyPort;
    if (options.counterPort) ports.counter.port = *options.counterPort;
    return ports;
}

// --log FILE, or a file of this run in the control panel's log folder.
std::wstring LogFilePath(const Options& options) {
    if (!options.logFile.empty()) {
        std::error_code error;
        return std::filesystem::absolute(options.logFile, error).wstring();
    }
    std::wstring appData;
    if (!apppaths::GetApplicationDataFolder(appData)) return {};
    const std::wstring folder = apppaths::JoinFolder(apppaths::DataFolder(appData), L"logs");
    const DWORD made = apppaths::CreateFolderTree(folder);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) return {};
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return apppaths::JoinFile(folder, L"quorvexd_" + apppaths::LogFileName(now));
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts, so that only the watch sees them.
    CStopSignals::Block();
    // A client gone mid-reply is a closed socket, not the end of the server.
    signal(SIGPIPE, SIG_IGN);

    Options options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvexd: %s (see quorvexd --help)\n", e.what());
        return kExitBadArgument;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quorvexd %ls\n", GetFileVersion().c_str());
        return 0;
    }

    QCoreApplication app(argc, argv);
    const int ceiling = options.verbose ? driverlog::Debug : driverlog::Informational;
    CProgramLog programLog([ceiling] { return ceiling; });
    const std::wstring logFile = LogFilePath(options);
    if (!logFile.empty()) {
        programLog.SetLogfilePath(logFile);
        driverlogsetup::SetLogfilePath(logFile);
    }
    driverlogsetup::SetLogCeiling(static_cast<unsigned>(ceiling));
    const auto log = [&programLog](int severity, const std::wstring& message) { programLog.Write(severity, message); };
    // The transport's port-error boxes have nobody to show them to: they go
    // to the log, and the hub hears of the port through the gate.
    porterrors::Install([&log](const porterrors::Box& box) {
        log(driverlog::Warning, box.caption + L": " + box.text);
        return IDOK;
    });
    log(driverlog::Informational, L"quorvexd " + GetFileVersion() + L" starting");

    int code = 0;
    try {
        CStopSignals stopSignals;
        CInstrumentHub hub(LoadPorts(options), log);
        CServer server(options.server, hub, log);
        std::string error;
        if (!server.Listen(error)) {
            std::fprintf(stderr, "quorvexd: cannot listen on %s\n", error.c_str());
            log(driverlog::Error, L"Cannot listen on " + QString::fromStdString(error).toStdWString());
            porterrors::Uninstall();
            return kExitCannotListen;
        }
        for (const std::string& address : server.Addresses()) std::printf("quorvexd: listening on %s\n", address.c_str());
        std::fflush(stdout);
        QObject::connect(&stopSignals, &CStopSignals::Stop, &app, [&](int signal) {
            log(driverlog::Informational, L"Stopping (signal " + std::to_wstring(signal) + L")");
            server.Stop();
            app.quit();
        });
        hub.Start();
        app.exec();
        hub.Shutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvexd: %s\n", e.what());
        code = 1;
    }
    porterrors::Uninstall();
    log(driverlog::Informational, L"quorvexd stopped");
    return code;
}
