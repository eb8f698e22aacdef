// The counter's reply parsers: hexadecimal counts, the decimal result of
// reset and set-base, and the identification fields. Internal to the
// library; declared here so the fuzzing harness calls the very code the
// device uses.
//
// Each is a plain function of its text, called on the port's service thread
// from the device's reply handlers; the log is the device's own.
#pragma once

#include "TallyDll.h"

#include <serial/DriverLog.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tallyreplies {

// "T?", "P?" and the numeric diagnostics: sscanf "%X"; a failure is logged.
std::optional<uint32_t> ParseCount(driverlog::CDeviceLog& log, const char* text);
// Reset and set-base: sscanf "%d"; a failure is logged.
std::optional<int> ParseResult(driverlog::CDeviceLog& log, const char* text);
// "manufacturer,model,firmware": the firmware revision is everything after
// the second comma. Fields the reply does not reach keep their values.
void SplitIdentification(const std::string& reply, EtcIdentificationStruct& identification);

}  // namespace tallyreplies
