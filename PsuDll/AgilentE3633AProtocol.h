// The supply's SCPI protocol apart from any connection: the fields of its
// "*IDN?" reply and the quoting of string parameters, the line ending
// and the reply end of its queries. The device calls them
// from its reply handlers and commands; the fuzz target calls them directly.
//
// Plain functions and constants: no state, any thread.
#pragma once

#include "PsuDll.h"

#include <serial/Transaction.h>

#include <optional>
#include <string>
#include <string_view>

namespace psudll {

// The reply is manufacturer, model, serial number and a firmware field of
// three parts joined by '-'. Parsing stops at the first missing separator:
// fields before it get their new values, later ones keep what they held.
void ParseIdentification(const std::string& reply, AgilentIdentificationStruct& identification);

// Appended to every command.
constexpr const char* kLineEnding = "\r\n";
// A query: its reply ends with CR LF within a second.
driver::Request QueryRequest(std::string text);

// The only model this driver serves; the comparison is exact.
constexpr const char* kSupportedModel = "E3633A";

// The text as a SCPI string parameter: in double quotes, each quote inside
// written twice. Empty when the text holds a control character (CR and LF
// among them), which would end the command early or start another one.
std::optional<std::string> QuoteScpiString(std::string_view text);

}  // namespace psudll
