// Fuzz target: the head unit's replies. Every input is handed, as a reply,
// to each parser of the head driver's protocol: the identification fields,
// the acknowledgement and status codes, the position, temperature and
// parameter numbers, and the two multi-line table downloads (the input cut
// into lines at CR, as the port delivers them).
// The number scanner is also checked against the C library, whose "%lf"
// and "%d" rules it follows.
#include "FuzzSupport.h"
#include "QuorvexProtocol.h"

#include <serial/DriverLog.h>
#include <serial/ReplyText.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using fuzzsupport::Require;

// The download parsers with a log of their own: every failure entry is
// built (junk replies go into log texts), then dropped by the back ends
// scripts/fuzz.sh points at nothing.
class CHeadReplyFeeder {
public:
    CHeadReplyFeeder() : m_log("fuzz_head_replies"), m_deviceLog(m_log, L"CQuorvex", this) {
        m_log.SetCeiling(driverlog::Debug);
    }

    void Feed(const std::string& reply) {
        const std::optional<int> code = quorvexdll::ParseCode(reply);
        int expected = 0;
        Require(code.has_value() == (replytext::ScanInts(reply, &expected, 1) == 1), "code: as \"%d\" reads it");

        std::vector<std::string> lines;
        for (size_t start = 0;;) {
            const size_t cr = reply.find('\r', start);
            lines.push_back(reply.substr(start, cr == std::string::npos ? std::string::npos : cr - start));
            if (cr == std::string::npos) break;
            start = cr + 1;
        }
        const auto spectral = quorvexdll::ParseSpectralLines(m_deviceLog, lines);
        if (spectral.ok) Require(spectral.table.size() == lines.size() - 1, "spectral download: one pair per line");
        const auto aperture = quorvexdll::ParseApertureLines(m_deviceLog, lines);
        if (aperture.ok) {
            size_t values = 0;
            for (const auto& row : aperture.table) values += row.size();
            Require(values == lines.size() - 1, "aperture download: one factor per line");
            Require(!aperture.table.empty() && aperture.table.size() * 3 == values,
                    "aperture download: full rows of three");
        }
    }

private:
    driverlog::CLibraryLog m_log;
    driverlog::CDeviceLog m_deviceLog;
};

namespace {

bool SameDouble(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

// Inputs where the scanner and glibc's sscanf may part, not compared:
// - hexadecimal numbers: from_chars reads "0x10" as 0;
// - an exponent mark without digits ("9E,1"): from_chars stops before it,
//   glibc's sscanf swallows it and goes on (C itself has the conversion
//   fail), so only the count after it differs;
// - "%d" of a number beyond int, which has no defined result.
bool Comparable(const std::string& text) {
    if (text.find_first_of("xX") != std::string::npos) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != 'e' && text[i] != 'E') continue;
        size_t digit = i + 1;
        if (digit < text.size() && (text[digit] == '+' || text[digit] == '-')) ++digit;
        if (digit >= text.size() || text[digit] < '0' || text[digit] > '9') return false;
    }
    size_t run = 0;
    for (const char c : text) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run >= 10) return false;
    }
    return true;
}

// Whatever the scanner converts, it converts as sscanf does in the C locale
// (the process locale of this target): as many values, and the same ones.
void CheckAgainstCLibrary(const std::string& reply) {
    const std::string text(reply.c_str());  // sscanf stops at a NUL
    if (!Comparable(text)) return;
    double ours[4] = {}, theirs[4] = {};
    const int nOurs = replytext::ScanDoubles(text, ours, 4);
    int nTheirs = std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf", &theirs[0], &theirs[1], &theirs[2], &theirs[3]);
    if (nTheirs < 0) nTheirs = 0;
    Require(nOurs == nTheirs, "\"%lf,...\": as many numbers as sscanf");
    for (int i = 0; i < nOurs; ++i) Require(SameDouble(ours[i], theirs[i]), "\"%lf,...\": the values sscanf reads");

    int ourInts[2] = {}, theirInts[2] = {};
    const int nOurInts = replytext::ScanInts(text, ourInts, 2);
    int nTheirInts = std::sscanf(text.c_str(), "%d,%d", &theirInts[0], &theirInts[1]);
    if (nTheirInts < 0) nTheirInts = 0;
    Require(nOurInts == nTheirInts, "\"%d,%d\": as many numbers as sscanf");
    for (int i = 0; i < nOurInts; ++i) Require(ourInts[i] == theirInts[i], "\"%d,%d\": the values sscanf reads");
}

void CheckIdentification(const std::string& reply) {
    QuorvexIdentificationStruct id{"m", "o", "f", "s", "r"};
    quorvexdll::ParseIdentification(reply, id);
    Require(id.response == reply, "identification: the whole reply kept");
    if (std::count(reply.begin(), reply.end(), ',') >= 3)
        Require(id.manufacturer + "," + id.model + "," + id.firmware + "," + id.serialNumber == reply,
                "identification: the fields make up the reply");
    else
        Require(id.serialNumber == "s", "identification: fields the reply does not reach are kept");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CHeadReplyFeeder feeder;
    const std::string reply(reinterpret_cast<const char*>(data), size);
    CheckIdentification(reply);
    CheckAgainstCLibrary(reply);
    for (const int code : {-14, -1, 0, 1, 2}) Require(quorvexdll::DeviceErrorMessage(code) != nullptr, "error text");
    // What an upload sends for the numbers read.
    double values[4];
    const int n = replytext::ScanDoubles(reply, values, 4);
    for (int i = 0; i < n; ++i) {
        Require(!replytext::FormatFixed(values[i], 2).empty(), "%.2f of any double");
        Require(!replytext::FormatExp3(values[i]).empty(), "%.3E of any double");
    }
    feeder.Feed(reply);
    return 0;
}
