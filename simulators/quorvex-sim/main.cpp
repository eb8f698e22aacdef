// quorvex-sim: runs the simulated head unit, power supply and elapsed-time
// counter on pseudo-terminals linked as COMn ports, so the unchanged control
// panel connects to them, until Ctrl-C or SIGTERM. With --record DIR each
// instrument's commands, as they arrived, go into DIR/<instrument>.txt at
// exit, for tests that check what a whole program sent. With --line-rate the
// instruments answer at the speed of the lines the host set up. Faults are
// armed with --fault and, while it runs, by commands typed on its standard
// input (SimConsole.h).
#include "SimConsole.h"
#include "head/HeadSimulator.h"
#include "psu/PsuSimulator.h"
#include "tally/TallySimulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kMaxCom = 255;

struct Options {
    fs::path portsFolder = sim::DefaultPortsFolder();
    std::optional<unsigned> head, psu, counter;
    std::optional<fs::path> recordFolder;
    bool lineRate = false;
    std::vector<sim::FaultOrder> faults;
};

void Usage(std::ostream& out) {
    out << "Usage: quorvex-sim [--head N] [--psu N] [--counter N] [--ports-folder DIR] [--record DIR]\n"
           "                  [--line-rate] [--fault DEVICE:KIND[,count=N][,match=REGEX]]...\n"
           "Runs the simulated Quorvex head unit, power supply and elapsed-time counter\n"
           "as COM ports (default COM1, COM2 and COM3, or the next free numbers) in\n"
           "the ports folder (default " << sim::DefaultPortsFolder().string() << ").\n"
           "--record DIR writes the commands each one received to DIR/head.txt,\n"
           "DIR/psu.txt and DIR/counter.txt when it stops, one command a line.\n"
           "--line-rate paces every byte both ways at the rate, data bits, parity and\n"
           "stop bits the host set the port to (a pseudo-terminal reports 8 data bits\n"
           "and no parity), and each reply starts after the instrument's turnaround:\n"
           "head unit 3 ms, power supply 5 ms, counter 2 ms.\n\n"
        << sim::CSimConsole::Help() << "\n";
}

unsigned ParseCom(std::string_view option, const char* value) {
    char* end = nullptr;
    const unsigned long n = value ? std::strtoul(value, &end, 10) : 0;
    if (!value || *end != '\0' || n < 1 || n > kMaxCom)
        throw std::invalid_argument(std::string(option) + " needs a COM number from 1 to 255");
    return static_cast<unsigned>(n);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            std::exit(0);
        } else if (arg == "--head") {
            options.head = ParseCom(arg, value), ++i;
        } else if (arg == "--psu") {
            options.psu = ParseCom(arg, value), ++i;
        } else if (arg == "--counter") {
            options.counter = ParseCom(arg, value), ++i;
        } else if (arg == "--ports-folder") {
            if (!value) throw std::invalid_argument("--ports-folder needs a folder");
            options.portsFolder = value, ++i;
        } else if (arg == "--fault") {
            if (!value) throw std::invalid_argument("--fault needs DEVICE:KIND");
            options.faults.push_back(sim::ParseFaultOption(value)), ++i;
        } else if (arg == "--line-rate") {
            options.lineRate = true;
        } else if (arg == "--record") {
            if (!value) throw std::invalid_argument("--record needs a folder");
            options.recordFolder = value, ++i;
        } else {
            throw std::invalid_argument("unknown option " + std::string(arg));
        }
    }
    return options;
}

// A COM number is in use when its entry leads somewhere: a real adapter's
// link or another simulator's. A link whose device is gone is left over
// from a simulator that did not stop cleanly and may be replaced.
bool InUse(const fs::path& folder, unsigned com) {
    std::error_code ec;
    return fs::exists(folder / ("COM" + std::to_string(com)), ec);
}

// Explicit numbers are claimed first, so a default never takes one of them;
// a default moves on to the next free number.
class CComPicker {
public:
    explicit CComPicker(fs::path folder) : m_folder(std::move(folder)) {}

    void Claim(std::optional<unsigned> requested, const char* what) {
        if (!requested) return;
        if (!m_taken.insert(*requested).second)
            throw std::invalid_argument("COM" + std::to_string(*requested) + " is asked for twice");
        if (InUse(m_folder, *requested))
            throw std::runtime_error("COM" + std::to_string(*requested) + " for the " + what + " is in use");
    }

    unsigned Pick(std::optional<unsigned> requested, unsigned preferred, const char* what) {
        if (requested) return *requested;
        for (unsigned com = preferred; com <= kMaxCom; ++com) {
            if (!m_taken.count(com) && !InUse(m_folder, com)) {
                m_taken.insert(com);
                return com;
            }
        }
        throw std::runtime_error(std::string("no free COM number for the ") + what);
    }

private:
    fs::path m_folder;
    std::set<unsigned> m_taken;
};

// Control bytes (a stray LF, a binary upload) are written as \xNN so that
// every command stays on its own line.
void WriteRecord(const sim::CSimDevice& device, const fs::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const sim::ReceivedCommand& command : device.Received()) {
        for (const unsigned char c : command.text) {
            if (c < 0x20 || c == 0x7F || c == '\\') {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                out << escaped;
            } else {
                out << static_cast<char>(c);
            }
        }
        out << '\n';
    }
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

void Announce(const sim::CSimDevice& device, const char* what) {
    std::cout << device.ComName() << ": " << what << " (" << device.Port().SlavePath() << ")\n";
}

// Answers the lines typed on standard input until a stop signal comes.
// When input ends (started in the background, or from /dev/null) it only
// waits for the signal.
void ServeConsole(sim::CSimConsole& console, const sigset_t& stopSignals) {
    const int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
    const std::unique_ptr<const int, void (*)(const int*)> closer(&signals, [](const int* fd) { ::close(*fd); });
    bool reading = true;
    std::string input;
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {reading ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;  // EINTR
        if (fds[0].revents & POLLIN) break;
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            reading = false;
            continue;
        }
        input.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = input.find('\n')) != std::string::npos; input.erase(0, end + 1)) {
            const std::string answer = console.Execute(std::string_view(input).substr(0, end));
            if (!answer.empty()) std::cout << answer << std::endl;
        }
    }
}

int Run(const Options& options, const sigset_t& stopSignals) {
    CComPicker picker(options.portsFolder);
    picker.Claim(options.head, "head unit");
    picker.Claim(options.psu, "power supply");
    picker.Claim(options.counter, "elapsed-time counter");
    const unsigned headCom = picker.Pick(options.head, 1, "head unit");
    const unsigned psuCom = picker.Pick(options.psu, 2, "power supply");
    const unsigned counterCom = picker.Pick(options.counter, 3, "elapsed-time counter");

    sim::CLampBus lamp;
    sim::CHeadSimulator head(options.portsFolder, headCom, &lamp);
    sim::CPsuSimulator psu(options.portsFolder, psuCom, &lamp);
    sim::CTallySimulator counter(options.portsFolder, counterCom, &lamp);
    sim::CSimConsole console({{"head", &head}, {"psu", &psu}, {"counter", &counter}});
    for (const auto& fault : options.faults) console.Arm(fault);
    for (sim::CSimDevice* device : {static_cast<sim::CSimDevice*>(&head), static_cast<sim::CSimDevice*>(&psu),
                                    static_cast<sim::CSimDevice*>(&counter)}) {
        device->SetLineRate(options.lineRate);
        device->Start();
    }

    std::cout << "Ports folder: " << options.portsFolder.string() << "\n";
    if (options.lineRate) std::cout << "Line rate: replies paced at the ports' baud rates\n";
    Announce(head, "Quorvex head unit");
    Announce(psu, "Agilent E3633A power supply");
    Announce(counter, "elapsed-time counter");
    if (!options.faults.empty()) std::cout << console.Armed() << "\n";
    std::cout << "Press Ctrl-C to stop; type help for the fault commands." << std::endl;

    ServeConsole(console, stopSignals);
    std::cout << "Stopping." << std::endl;
    counter.Stop();
    psu.Stop();
    head.Stop();
    if (options.recordFolder) {
        fs::create_directories(*options.recordFolder);
        WriteRecord(head, *options.recordFolder / "head.txt");
        WriteRecord(psu, *options.recordFolder / "psu.txt");
        WriteRecord(counter, *options.recordFolder / "counter.txt");
    }
    return 0;  // the simulators' destructors remove the links
}

}  // namespace

int main(int argc, char** argv) {
    // Blocked before any thread starts, so every simulator thread inherits
    // the mask and the signals wait for sigwait here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        return Run(ParseOptions(argc, argv), stopSignals);
    } catch (const std::invalid_argument& e) {
        std::cerr << "quorvex-sim: " << e.what() << "\n";
        Usage(std::cerr);
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "quorvex-sim: " << e.what() << "\n";
        return 1;
    }
}
