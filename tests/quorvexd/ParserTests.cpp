// The SCPI parser, the command table and the error queue: how a client's
// line splits into commands, which header forms match which command, and
// every error code a malformed or unknown command earns.
#include <gtest/gtest.h>

#include "CommandTable.h"
#include "ErrorQueue.h"
#include "ScpiParser.h"

using scpi::CommandId;
using namespace scpi::code;

namespace {

scpi::Command One(const std::string& line) {
    const std::vector<scpi::Command> commands = scpi::ParseLine(line);
    EXPECT_EQ(commands.size(), 1u) << line;
    return commands.empty() ? scpi::Command{} : commands.front();
}

// The id a line's only command matches, or the error it earns.
struct Outcome {
    int error = kNoError;
    CommandId id = CommandId::Identify;
};
Outcome Resolve(const std::string& line) {
    const scpi::Command command = One(line);
    if (command.error != kNoError) return {command.error};
    const scpi::Match match = scpi::Lookup(command);
    if (!match.spec) return {match.error};
    return {kNoError, match.spec->id};
}

TEST(ScpiParser, SplitsLinesIntoCommandsHeadersAndParameters) {
    std::vector<scpi::Command> commands = scpi::ParseLine("*idn?; :sour:aper 1, 11 ;MEAS:TEMP? bulb\r");
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_TRUE(commands[0].common);
    EXPECT_TRUE(commands[0].query);
    EXPECT_EQ(commands[0].mnemonics, std::vector<std::string>{"*IDN"});
    EXPECT_EQ(commands[1].mnemonics, (std::vector<std::string>{"SOUR", "APER"}));
    EXPECT_FALSE(commands[1].query);
    ASSERT_EQ(commands[1].parameters.size(), 2u);
    EXPECT_EQ(commands[1].parameters[0].text, "1");
    EXPECT_EQ(commands[1].parameters[1].text, "11");
    EXPECT_EQ(commands[1].text, ":sour:aper 1, 11");
    EXPECT_EQ(commands[2].parameters.at(0).text, "bulb");

    // Quoted strings keep blanks, commas and semicolons; doubled quotes are one.
    commands = scpi::ParseLine(R"(DISP:TEXT "A;B, ""C"""; DISP:TEXT 'it''s')");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].parameters.at(0).text, "A;B, \"C\"");
    EXPECT_TRUE(commands[0].parameters[0].quoted);
    EXPECT_EQ(commands[1].parameters.at(0).text, "it's");

    // Blank commands and lines are no commands at all.
    EXPECT_TRUE(scpi::ParseLine("").empty());
    EXPECT_TRUE(scpi::ParseLine("  ;; \r").empty());
    EXPECT_EQ(scpi::ParseLine("*CLS;").size(), 1u);
}

TEST(ScpiParser, MalformedCommandsEndTheirLineWithAnError) {
    const struct {
        const char* line;
        int error;
    } cases[] = {
        {"SOUR::APER?", kSyntaxError},
        {"SOUR:APER??", kSyntaxError},
        {"SOUR:AP-ER?", kSyntaxError},
        {"*", kSyntaxError},
        {"*ID1?", kSyntaxError},
        {":", kSyntaxError},
        {"SOUR:APER 1,,2", kSyntaxError},
        {"SOUR:APER 1,", kSyntaxError},
        {"DISP:TEXT \"open", kSyntaxError},
        {"DISP:TEXT \"a\"b", kSyntaxError},
        {"DISP:TEXT a b", kSyntaxError},
        {"1SOUR?", kSyntaxError},
        {"*IDN?\x01", kCommandError},
        {"SOUR:APER? \xc3\xa9", kCommandError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::vector<scpi::Command> commands = scpi::ParseLine(c.line);
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back().error, c.error);
        EXPECT_FALSE(commands.back().detail.empty());
    }
    // What came before the bad command still runs; what follows is dropped.
    const std::vector<scpi::Command> commands = scpi::ParseLine("*CLS; SOUR::X; *IDN?");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].error, kNoError);
    EXPECT_EQ(commands[1].error, kSyntaxError);
}

TEST(CommandTable, ShortAndLongFormsInAnyCaseWithOptionalNodes) {
    const struct {
        const char* line;
        CommandId id;
    } cases[] = {
        {"SOUR:APER?", CommandId::AperturePosition},
        {"source:aperture?", CommandId::AperturePosition},
        {"Sour:Aper:Pos?", CommandId::AperturePosition},
        {"SOURCE:APERTURE:POSITION 1,2", CommandId::AperturePosition},
        {"SOUR:APER:HOME", CommandId::ApertureHome},
        {"SOUR:APER:FACT?", CommandId::ApertureFactor},
        {"SOUR:RAD? 550", CommandId::Radiance},
        {"SYST:ERR?", CommandId::ErrorNext},
        {"SYSTEM:ERROR:NEXT?", CommandId::ErrorNext},
        {"SYST:VERS?", CommandId::Version},
        {"SYST:CONN?", CommandId::Connected},
        {"SYST:LOCK:REQ?", CommandId::LockRequest},
        {"SYSTEM:LOCK:RELEASE", CommandId::LockRelease},
        {"OUTP ON", CommandId::Output},
        {"OUTPUT:STATE 0", CommandId::Output},
        {"OUTP?", CommandId::Output},
        {"OUTP:RAMP:PROG?", CommandId::OutputRampProgress},
        {"ABOR", CommandId::Abort},
        {"MEAS:CURR?", CommandId::MeasureCurrent},
        {"MEASURE:VOLTAGE?", CommandId::MeasureVoltage},
        {"MEAS:TEMP?", CommandId::MeasureTemperature},
        {"MEAS:TEMP? MOT", CommandId::MeasureTemperature},
        {"MEAS:HOUR?", CommandId::MeasureHours},
        {"MEAS:CYCL?", CommandId::MeasureCycles},
        {"CAL:SPEC?", CommandId::CalibrationSpectral},
        {"CALIBRATION:APERTURE?", CommandId::CalibrationAperture},
        {"CAL:SER?", CommandId::CalibrationSerial},
        {"CAL:DOWN", CommandId::CalibrationDownload},
        {"DISP:TEXT \"HI\"", CommandId::DisplayText},
        {"DISP:TEXT:CLE", CommandId::DisplayClear},
        {"*idn?", CommandId::Identify},
        {"*CLS", CommandId::ClearStatus},
        {"*OPC?", CommandId::OperationComplete},
        {"*WAI", CommandId::Wait},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Outcome outcome = Resolve(c.line);
        EXPECT_EQ(outcome.error, kNoError);
        EXPECT_EQ(outcome.id, c.id);
    }
}

TEST(CommandTable, UnknownHeadersAndWrongParameterCounts) {
    const struct {
        const char* line;
        int error;
    } cases[] = {
        {"SOUR:APERT?", kUndefinedHeader},       // neither short nor long form
        {"SOU:APER?", kUndefinedHeader},
        {"APER?", kUndefinedHeader},             // a required node left out
        {"SOUR:APER:HOME?", kUndefinedHeader},   // no query form
        {"SYST:VERS", kUndefinedHeader},         // query only
        {"*RST", kUndefinedHeader},
        {"*IDN", kUndefinedHeader},
        {"SOUR:APER 1", kMissingParameter},
        {"SOUR:RAD?", kMissingParameter},
        {"OUTP", kMissingParameter},
        {"DISP:TEXT", kMissingParameter},
        {"SOUR:APER 1,2,3", kParameterNotAllowed},
        {"*IDN? 1", kParameterNotAllowed},
        {"MEAS:TEMP? BULB,MOT", kParameterNotAllowed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(Resolve(c.line).error, c.error);
    }
}

TEST(ErrorQueue, OldestFirstSixteenAtMostAndOverflowReplacesTheNewest) {
    scpi::CErrorQueue queue;
    EXPECT_EQ(queue.Pop(), "0,\"No error\"");
    queue.Push(kUndefinedHeader);
    queue.Push(kExecutionError, "the lamp is \"lit\"");
    EXPECT_EQ(queue.Pop(), "-113,\"Undefined header\"");
    EXPECT_EQ(queue.Pop(), "-200,\"Execution error; the lamp is \"\"lit\"\"\"");
    EXPECT_EQ(queue.Pop(), "0,\"No error\"");

    for (int i = 0; i < 20; ++i) queue.Push(kSyntaxError);
    EXPECT_EQ(queue.Size(), scpi::CErrorQueue::kCapacity);
    for (std::size_t i = 0; i + 1 < scpi::CErrorQueue::kCapacity; ++i) EXPECT_EQ(queue.Pop(), "-102,\"Syntax error\"");
    EXPECT_EQ(queue.Pop(), "-350,\"Queue overflow\"");
    EXPECT_EQ(queue.Size(), 0u);
    queue.Push(kHardwareMissing);
    queue.Clear();
    EXPECT_EQ(queue.Pop(), "0,\"No error\"");
}

TEST(ScpiNumbers, DecimalNumbersOnlyAndRadianceFormat) {
    double value = 0;
    for (const char* good : {"12", "-3.5e2", "+.5", "550.", "1E-3"}) EXPECT_TRUE(scpi::ParseNumber(good, value)) << good;
    EXPECT_TRUE(scpi::ParseNumber("-3.5e2", value));
    EXPECT_EQ(value, -350.0);
    for (const char* bad : {"", "x", "1x", "0x10", "inf", "nan", "1e", ".", "+", "1e999"})
        EXPECT_FALSE(scpi::ParseNumber(bad, value)) << bad;
    EXPECT_EQ(scpi::FormatScientific(1.5e-6), "1.500000E-06");
    EXPECT_EQ(scpi::FormatScientific(0.0), "0.000000E+00");
}

}  // namespace
