// The head unit's protocol apart from any connection: the messages of its
// error codes, the fields of its identification reply, the code of an
// acknowledgement or status reply, and the two table downloads. The device
// calls them from its reply handlers; the fuzz target calls them directly.
//
// Plain functions: no state, any thread; the log the download parsers
// write their failures to is the caller's.
#pragma once

#include "QuorvexDll.h"

#include <serial/DriverLog.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvexdll {

// The message of an acknowledgement code other than 1.
const wchar_t* DeviceErrorMessage(int code);

// Fills the record from an "I?" reply: the whole reply into `response`, then
// manufacturer, model, firmware and serial number (the rest after the third
// comma), stopping at the first missing comma; fields after it keep their
// values.
void ParseIdentification(std::string_view reply, QuorvexIdentificationStruct& identification);

// The number an acknowledgement ("1" or an error code) or a status reply
// starts with, as sscanf "%d" reads it; nothing when none does.
std::optional<int> ParseCode(std::string_view text);

// A table download: its lines as the port collected them (a count, then
// that many values); `ok` false, with the failure logged, when they do not
// make the table.
template <typename Table>
struct DownloadResult {
    bool ok = false;
    Table table;
};
// "C0?": one "wavelength,radiance" pair a line.
DownloadResult<QuorvexSpectralTable> ParseSpectralLines(driverlog::CDeviceLog& log,
                                                        const std::vector<std::string>& lines);
// "C1?": one factor a line, column by column of rows of three.
DownloadResult<QuorvexApertureTable> ParseApertureLines(driverlog::CDeviceLog& log,
                                                        const std::vector<std::string>& lines);

}  // namespace quorvexdll
