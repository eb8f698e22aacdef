// How quorvexctl writes what it prints: text in the terminal's character
// set (plain ASCII for the em dash and the degree sign when the locale is
// not UTF-8), JSON objects, and a failure as one line on standard error
// plus, under --json, one {"error": ...} object on standard output.
//
// Main thread only. SetUpCodeset runs once in main before anything is
// printed; the rest are free functions without state of their own.
#pragma once

#include <cstdio>
#include <string>

#include <QJsonObject>

namespace quorvexctl {

// Reads the locale's character set (setlocale(LC_CTYPE, "")).
void SetUpCodeset();

// `utf8` as the terminal can show it: unchanged under a UTF-8 locale,
// otherwise with " \u2014 " as " - " and "\u00B0C" as "degC".
std::string ForTerminal(const std::string& utf8);

// The object, indented, on `out` (always UTF-8, as JSON is).
void PrintJson(std::FILE* out, const QJsonObject& object);

// "quorvexctl: MESSAGE HINT" on `err`; under `json` also
// {"error": {"code": CODE, "message": MESSAGE}} on `out`.
void ReportFailure(std::FILE* out, std::FILE* err, bool json, int code, const std::string& message,
                   const char* hint = "");

}  // namespace quorvexctl
