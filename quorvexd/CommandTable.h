// The commands quorvexd serves: each header in its SCPI form
// ("SOURce:APERture[:POSition]": upper case the short form, [] an optional
// node), whether it is the query or the setting form, its parameter count,
// which instrument it needs and whether it changes anything (so the lock
// and read-only mode apply to it). Lookup matches a parsed command against
// the table, in short or long form, case-insensitively.
//
// The table is built once and only read; Lookup is callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "ScpiParser.h"

namespace scpi {

enum class CommandId {
    Identify, ClearStatus, OperationComplete, Wait,
    ErrorNext, Version, Connected, LockRequest, LockRelease,
    AperturePosition, ApertureHome, ApertureFactor, Radiance,
    Output, OutputRampProgress, Abort,
    MeasureCurrent, MeasureVoltage, MeasureTemperature, MeasureHours, MeasureCycles,
    CalibrationSpectral, CalibrationAperture, CalibrationSerial, CalibrationDownload,
    DisplayText, DisplayClear,
};

enum class Instrument { None, Head, Supply, Counter };

struct CommandSpec {
    const char* header;  // SCPI form, "*IDN" for a common command
    bool query;
    CommandId id;
    int minParameters;
    int maxParameters;
    Instrument instrument;
    bool changes;  // moves, ramps, display, download: under the lock and read-only
};

struct Match {
    const CommandSpec* spec = nullptr;  // null: see error
    int error = code::kNoError;
    std::string detail;
};

// The spec for `command` (already parsed without error), or the error it
// earns: -113 for a header no entry has (or the query form of a setting
// command and the other way round), -109 for too few parameters, -108 for
// too many.
Match Lookup(const Command& command);

// Every entry, for the help text and tests.
const std::vector<CommandSpec>& Table();

// Whether `mnemonics` spell `header` (the optional nodes may be left out,
// each node in its short or long form).
bool HeaderMatches(const char* header, const std::vector<std::string>& mnemonics);

}  // namespace scpi
