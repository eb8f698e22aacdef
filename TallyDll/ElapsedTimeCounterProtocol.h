// The elapsed-time counter's protocol apart from any connection: its
// commands and how their replies end, and the parsers of its replies
// (hexadecimal counts, the decimal result of reset and set-base, the
// identification fields). The device calls them from its reply handlers on
// the port's service thread; the fuzz target calls them directly.
//
// Plain functions and constants: no state, any thread; the log they write
// failures to is the caller's.
#pragma once

#include "TallyDll.h"

#include <serial/DriverLog.h>
#include <serial/Transaction.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tallydll {

// The counter's model name in its identification reply.
constexpr const char* kCounterModel = "ETC";

// A query or command whose reply ends with a carriage return within a
// second.
driver::Request LineRequest(std::string text);
// A diagnostic query: its reply is whatever arrived after 50 ms of silence.
driver::Request SilenceRequest(std::string text);

// "T?", "P?" and the numeric diagnostics: sscanf "%X"; a failure is logged.
std::optional<uint32_t> ParseCount(driverlog::CDeviceLog& log, const char* text);
// Reset and set-base: sscanf "%d"; a failure is logged.
std::optional<int> ParseResult(driverlog::CDeviceLog& log, const char* text);
// The version query of the diagnostics: any text will do.
std::optional<std::string> ParseText(driverlog::CDeviceLog& log, const char* text);
// "manufacturer,model,firmware": the firmware revision is everything after
// the second comma. Fields the reply does not reach keep their values.
void SplitIdentification(const std::string& reply, EtcIdentificationStruct& identification);

// The numeric diagnostic queries in the order they go out: byte-wise order
// of the query texts, whatever the order of the record's fields. The
// version query goes last.
const std::map<std::string, uint32_t EtcDiagnosticsStruct::*>& NumericDiagnostics();
constexpr const char* kVersionQuery = "!0v";

}  // namespace tallydll
