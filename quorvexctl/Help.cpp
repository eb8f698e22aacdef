// quorvexctl's help: one entry per subcommand, shown together by --help and
// one at a time by `help SUBCOMMAND`, so the two never say different things.
#include "CommandLine.h"

#include <array>

namespace quorvexctl {

namespace {

struct Entry {
    const char* name;
    const char* text;  // the lines the whole help lists under "Subcommands:"
};

constexpr std::array kEntries{
    Entry{"ports", R"(  ports                     List the serial ports COM1..COM127 present and
                            what is behind each, as the control panel's
                            settings list them. Touches no instrument.
)"},
    Entry{"scan", R"(  scan                      Auto Detect, as in the control panel's settings:
                            ask each free port for each instrument's
                            identification and print which COMn answers as
                            the head unit, the power supply and the counter
                            (exit 3 when none answers). A port where nothing
                            answers waits out the drivers' reply time-outs.
)"},
    Entry{"identify", R"(  identify                  The identification of the head unit, the power
                            supply and the counter.
)"},
    Entry{"status", R"(  status                    The four head temperatures, the lamp current and
                            voltage, lamp hours, power cycles and the
                            aperture position.
)"},
    Entry{"ramp", R"(  ramp up                   Ramp the lamp up as the control panel does: limits
                            15.0 V and 8.5 A, then to 8.333 A at 15.0 V over
                            15 s. --current A (above 0, at most 8.5),
                            --voltage V (above 0, at most 15.0) and
                            --seconds N (1 to 3600) change the target and the
                            time. Refused while the lamp is ramped up
                            (output on, current above 0). Ctrl-C aborts the
                            ramp and ramps the lamp back down.
  ramp down                 Ramp the lamp down to zero over 5 s (--seconds N).
                            A ramp-down always runs to its end; a signal
                            that comes meanwhile is acted on after it.
)"},
    Entry{"move", R"(  move PRIMARY SECONDARY    Move the aperture wheels: primary 0..2,
                            secondary 0..11. Prints the position reached.
)"},
    Entry{"home", R"(  home                      Home both wheels. Prints the position reached.
)"},
    Entry{"calibration", R"(  calibration download      Download both calibration tables from the head
                            unit and write them: --csv FILE (the control
                            panel's CSV export), --aperture FILE and
                            --spectral FILE (the calibration text files the
                            upload reads). At least one is needed. A file
                            that exists is refused before anything is
                            downloaded, unless --force is given.
  calibration upload        Upload calibration text files to the head unit:
                            --aperture FILE and/or --spectral FILE (aperture
                            first). Both are read and checked before
                            anything is sent. Ctrl-C aborts the transfer.
  calibration save          Download both tables and store them, with the
                            head's serial number, as the control panel's own
                            copy (Calibration.ini), which it then shows
                            without downloading again.
)"},
    Entry{"display", R"(  display "TEXT"            Show TEXT on the power supply's front panel: at
                            most 11 characters (what its display shows) of
                            printable ASCII, no '"'.
  display --clear           Clear the message from the supply's display.
)"},
    Entry{"batch", R"(  batch (or -)              Read subcommands from standard input, one a line,
                            written as on the command line but without the
                            global options (--head, --supply, --counter,
                            --json, --quiet, --log, -v), which the batch's
                            own command line gives for every line. Each
                            instrument is connected when a line first needs
                            it and stays connected until the batch ends.
                            Blank lines and lines starting with # are
                            skipped; '...' and "..." quote. Each line's
                            result is printed as for a single command. The
                            batch stops at the first line that fails, with
                            that line's exit code; --keep-going runs the
                            remaining lines and exits with the first
                            failure's code.
)"},
    Entry{"help", R"(  help [SUBCOMMAND]         This text, or the help of one subcommand.
)"},
};

constexpr const char* kIntro = R"(Usage: quorvexctl [OPTIONS] SUBCOMMAND [OPERANDS]

Drives the Quorvex light source's three instruments from a shell: the head
unit (aperture wheels, temperatures, calibration tables), the lamp's power
supply and the elapsed-time counter. Each subcommand connects to the
instruments it needs and disconnects them again before it ends (a batch keeps
them connected from line to line).

Subcommands:
)";

constexpr const char* kOptions = R"(
Options:
  --head COMn               The head unit's port,
  --supply COMn             the power supply's port,
  --counter COMn            the counter's port, instead of QUORVEX_HEAD,
                            QUORVEX_SUPPLY and QUORVEX_COUNTER, or when those
                            are not set, the ports chosen in the control
                            panel's settings. Baud rate, parity and the other
                            serial settings always come from there (the
                            defaults when it was never set up).
  --json                    Print the result as one JSON object on standard
                            output, a failure as {"error": {"code": N,
                            "message": "..."}}.
  -q, --quiet               No progress and no informational lines; failures
                            are still printed on standard error.
  --log FILE                Append the driver libraries' log to FILE (refused
                            at once when FILE cannot be appended to).
  --force                   calibration download: overwrite existing files.
  -v, --verbose             Log at the "Normal" ceiling and copy the log to
                            standard error; -vv (or -v -v) adds debug entries.
  --version                 The program's version.
  -h, --help                This text; after a subcommand, its help.

Environment:
  QUORVEX_HEAD, QUORVEX_SUPPLY, QUORVEX_COUNTER
                            The instruments' ports (COMn or n) when the
                            command line does not give them.

Progress of ramps and transfers goes to standard error: a bar on a terminal,
plain lines every 10 % otherwise. Results go to standard output.

Exit codes:
  0    success
  1    the instrument refused the command (its own message is printed), a
       file could not be written, or the results could not be written to
       standard output
  2    bad argument (the command line, or a file named on it: a bad line,
       an empty table, an output that exists without --force)
  3    no instrument: no such port, or nothing answered on it
  4    permission denied on the port (add your user to the dialout group)
  5    busy: the port is in use by another program, or the instrument is busy
  6    timed out: the instrument stopped answering
Each failure prints one line on standard error.

Ctrl-C (SIGINT), SIGTERM and SIGHUP stop any subcommand at once (a ramp-down
excepted, which runs to its end first): what runs is aborted, a ramp-up cut
short is ramped back down, every instrument is disconnected (which unlocks
the supply's front panel), and quorvexctl then dies of that signal, so the
calling shell or script stops too (a shell shows 130 for Ctrl-C, 143 for
SIGTERM, 129 for SIGHUP). A batch stops at the line that was running.

Example: read the bulb temperature at each of the 36 apertures over one
connection
  export QUORVEX_HEAD=COM1 QUORVEX_SUPPLY=COM2 QUORVEX_COUNTER=COM3
  for p in 0 1 2; do for s in $(seq 0 11); do
    echo "move $p $s"; echo status
  done; done | quorvexctl --json batch | jq -r "select(.temperatures).temperatures.bulbEnclosure"
)";

}  // namespace

std::string HelpText() {
    std::string text = kIntro;
    for (const Entry& entry : kEntries) text += entry.text;
    return text + kOptions;
}

std::optional<std::string> SubcommandHelp(const std::string& name) {
    const std::string wanted = name == "-" ? "batch" : name;
    for (const Entry& entry : kEntries)
        if (wanted == entry.name)
            return std::string("Usage: quorvexctl [OPTIONS] ") + (wanted == "help" ? "help [SUBCOMMAND]" : wanted) +
                   " ...\n\n" + entry.text + "\nquorvexctl --help lists the options and exit codes.\n";
    return std::nullopt;
}

}  // namespace quorvexctl
