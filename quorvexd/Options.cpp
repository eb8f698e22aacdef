// Reading quorvexd's command line.
#include "Options.h"

#include <QString>

namespace quorvexd {

namespace {

constexpr int kMaxPort = 255;

[[noreturn]] void Bad(const std::string& why) { throw std::invalid_argument(why); }

int ParseCom(const std::string& option, const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3 && QString::fromStdString(digits.substr(0, 3)).toUpper() == "COM") digits = digits.substr(3);
    bool ok = false;
    const int port = QString::fromStdString(digits).toInt(&ok);
    if (!ok || port < 1 || port > kMaxPort || digits.empty() || digits[0] == '+' || digits[0] == '-')
        Bad(option + " wants a port from COM1 to COM255, not \"" + text + "\"");
    return port;
}

// "127.0.0.1:5025", "[::1]:5025", "0.0.0.0:5025".
ListenAddress ParseListen(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) Bad("--listen wants ADDRESS:PORT, not \"" + text + "\"");
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    ListenAddress at;
    if (!at.address.setAddress(QString::fromStdString(host)))
        Bad("--listen: \"" + host + "\" is no IPv4 or IPv6 address");
    bool ok = false;
    const int port = QString::fromStdString(text.substr(colon + 1)).toInt(&ok);
    if (!ok || port < 0 || port > 65535) Bad("--listen: \"" + text.substr(colon + 1) + "\" is no TCP port");
    at.port = static_cast<quint16>(port);
    return at;
}

std::pair<QHostAddress, int> ParseAllow(const std::string& text) {
    QString subnet = QString::fromStdString(text);
    if (!subnet.contains('/')) subnet += subnet.contains(':') ? "/128" : "/32";
    const std::pair<QHostAddress, int> parsed = QHostAddress::parseSubnet(subnet);
    if (parsed.first.isNull()) Bad("--allow wants an address or a subnet such as 192.168.1.0/24, not \"" + text + "\"");
    return parsed;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) Bad(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else if (arg == "--listen") options.server.listen.push_back(ParseListen(value()));
        else if (arg == "--allow") options.server.allow.push_back(ParseAllow(value()));
        else if (arg == "--read-only") options.server.readOnly = true;
        else if (arg == "--head") options.headPort = ParseCom(arg, value());
        else if (arg == "--supply") options.supplyPort = ParseCom(arg, value());
        else if (arg == "--counter") options.counterPort = ParseCom(arg, value());
        else if (arg == "--log") options.logFile = value();
        else if (arg == "-v" || arg == "--verbose") options.verbose = true;
        else Bad("unknown option \"" + arg + "\"");
    }
    if (options.server.allow.empty())
        for (const ListenAddress& at : options.server.listen)
            if (!at.address.isLoopback())
                Bad("listening on " + at.address.toString().toStdString() +
                    " reaches beyond this computer: give --allow for the clients that may connect");
    return options;
}

std::string HelpText() {
    return R"(NAME
    quorvexd - share the Quorvex light source on the network as one SCPI instrument

SYNOPSIS
    quorvexd [--listen ADDRESS:PORT]... [--allow CIDR]... [--read-only]
             [--head COMn] [--supply COMn] [--counter COMn] [--log FILE] [-v]

DESCRIPTION
    quorvexd connects the head unit, the power supply and the elapsed-time
    counter with the control panel's settings and calibration copy and
    serves them to many clients at once: SCPI over TCP, one command a line
    (LF or CR LF), several joined by ';', replies one line ending in LF.
    A missing or lost instrument is retried every 5 s; commands that need it
    meanwhile get error -241. SIGTERM or SIGINT ends a running ramp-up (the
    lamp goes back down), ramps a lit lamp down, unlocks the supply's front
    panel, disconnects and exits 0.

OPTIONS
    --listen ADDRESS:PORT
        Listen there (repeatable; IPv6 as [::1]:5025; port 0 lets the system
        choose). Default 127.0.0.1:5025.
    --allow CIDR
        Accept clients from this address or subnet only (repeatable, e.g.
        192.168.1.0/24). Required to listen on anything but loopback; others
        are closed at once and logged.
    --read-only
        Refuse every command that changes anything (-203).
    --head COMn, --supply COMn, --counter COMn
        The instruments' ports instead of the control panel's settings.
    --log FILE
        Append the log to FILE instead of a new file in the panel's log folder.
    -v, --verbose
        Log the drivers' debug entries too.
    --version
        Print the version.
    -h, --help
        Print this text.

COMMANDS
    *IDN? *CLS *OPC? *WAI  SYSTem:ERRor[:NEXT]?  SYSTem:VERSion?
    SYSTem:CONNect?  SYSTem:LOCK:REQuest?  SYSTem:LOCK:RELease
    SOURce:APERture[:POSition] P,S  SOURce:APERture[:POSition]?
    SOURce:APERture:HOME  SOURce:APERture:FACTor?  SOURce:RADiance? NM
    OUTPut[:STATe] ON|OFF|1|0  OUTPut[:STATe]?  OUTPut:RAMP:PROGress?  ABORt
    MEASure:CURRent?  MEASure:VOLTage?  MEASure:TEMPerature? [BULB|MOTor|PRIMary|SECondary]
    MEASure:HOURs?  MEASure:CYCLes?
    CALibration:SPECtral?  CALibration:APERture?  CALibration:SERial?  CALibration:DOWNload
    DISPlay:TEXT "TEXT"  DISPlay:TEXT:CLEar

LIMITS
    At most 32 clients; lines of at most 4096 bytes (-363 beyond); 16 errors
    queued per client (-350 beyond).

EXIT STATUS
    0 after a signal ended it, 2 for a bad command line, 1 when it cannot listen.
)";
}

}  // namespace quorvexd
