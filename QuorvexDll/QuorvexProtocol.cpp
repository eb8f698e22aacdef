// The head unit's protocol texts and reply parsers (see QuorvexProtocol.h).
#include "QuorvexProtocol.h"

#include <serial/ReplyText.h>

#include <string>

using driverlog::Error;
using driverlog::Warning;

namespace quorvexdll {

const wchar_t* DeviceErrorMessage(int code) {
    switch (code) {
    case -1: return L"Parameter 1 Error";
    case -2: return L"Parameter 2 Error";
    case -3: return L"Parameter 3 Error";
    case -4: return L"Parameter 4 Error";
    case -5: return L"Parameter Error";
    case -6: return L"Syntax Error";
    case -7: return L"Primary Set Configuration Parameter Error";
    case -8: return L"Secondary Set Configuraiton Parameter Error";
    case -9: return L"Primary Homing Error";
    case -10: return L"Secondary Homing Error";
    case -11: return L"I2C Timeout";
    case -12: return L"ASCII to float conversion error";
    case -13: return L"Primary Moving Error";
    case -14: return L"Secondary Moving Error";
    default: return L"Unknown Error Code";
    }
}

void ParseIdentification(std::string_view reply, QuorvexIdentificationStruct& identification) {
    identification.response = std::string(reply);
    replytext::SplitFields(reply, ',',
                           {&identification.manufacturer, &identification.model, &identification.firmware,
                            &identification.serialNumber});
}

std::optional<int> ParseCode(std::string_view text) {
    int code = 0;
    if (replytext::ScanInts(text, &code, 1) != 1) return std::nullopt;
    return code;
}

namespace {

// How a download's log entries name its table and the values it counts.
struct DownloadNames {
    const wchar_t* table;     // ": Download <table> data results not enough data. ..."
    const wchar_t* counted;   // ": Error parsing number of <counted> ..."
    const wchar_t* received;  // ": Incorrect number of <received> received. ..."
};

// The count that heads a download reply when the lines that follow hold
// that many values; -1, logged, otherwise.
int DownloadCount(driverlog::CDeviceLog& log, const std::vector<std::string>& lines, const DownloadNames& names) {
    if (lines.size() < 2) {
        log.Log(Error, L": Download ", names.table,
                  L" data results not enough data. Returned vector length = ", lines.size(), L".");
        return -1;
    }
    int count = 0;
    if (replytext::ScanInts(lines[0], &count, 1) != 1) {
        log.Log(Error, L": Error parsing number of ", names.counted, L" \"", lines[0], L"\"");
        return -1;
    }
    if (count < 0 || lines.size() != static_cast<size_t>(count) + 1) {
        log.Log(Warning, L": Incorrect number of ", names.received, L" received. ", lines.size() - 1,
                  L" received, ", count, L" expected.");
        return -1;
    }
    return count;
}

}  // namespace

DownloadResult<QuorvexSpectralTable> ParseSpectralLines(driverlog::CDeviceLog& log, const std::vector<std::string>& lines) {
    DownloadResult<QuorvexSpectralTable> result;
    const int count = DownloadCount(log, lines, {L"spectral", L"spectral pairs", L"spectral data pairs"});
    if (count < 0) return result;
    result.ok = true;
    result.table.reserve(static_cast<size_t>(count));
    for (size_t i = 1; i < lines.size(); ++i) {
        double pair[2];
        if (replytext::ScanDoubles(lines[i], pair, 2) == 2) {
            result.table.emplace_back(pair[0], pair[1]);
        } else {
            log.Log(Error, L": Error parsing downloaded spectral data pair \"", lines[i], L"\"");
            result.ok = false;
        }
    }
    return result;
}

DownloadResult<QuorvexApertureTable> ParseApertureLines(driverlog::CDeviceLog& log, const std::vector<std::string>& lines) {
    DownloadResult<QuorvexApertureTable> result;
    const int count = DownloadCount(log, lines, {L"aperture", L"aperture factors", L"aperture data values"});
    if (count < 0) return result;
    constexpr int kColumns = 3;
    const int rows = count / kColumns;
    if (count % kColumns != 0) {
        log.Log(Error, L": Error calculating the number of rows and columns. nValues = ", count,
                  L", nCols = ", kColumns, L", nRows = ", rows);
        return result;
    }
    // The factors come column by column: the k-th belongs to row k mod rows.
    result.ok = true;
    result.table.assign(static_cast<size_t>(rows), {});
    size_t parsed = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        double factor = 0.0;
        if (replytext::ScanDoubles(lines[i], &factor, 1) == 1) {
            result.table[parsed % static_cast<size_t>(rows)].push_back(factor);
            ++parsed;
        } else {
            log.Log(Error, L": Error parsing downloaded aperture data factor \"", lines[i], L"\"");
            result.ok = false;
        }
    }
    return result;
}

}  // namespace quorvexdll
