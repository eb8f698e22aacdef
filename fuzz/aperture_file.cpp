// Fuzz target: the aperture calibration file reader. The input is the file;
// the factors read are formatted as an upload sends them.
#include "ApertureDataFile.h"
#include "FuzzSupport.h"

#include <serial/ReplyText.h>

#include <algorithm>
#include <cstdint>

using fuzzsupport::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::CScratchFile file("aperture.txt");
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    file.Write(content);

    CApertureDataFile reader(file.WidePath());
    reader.Data() = {{9.0, 9.0, 9.0}};
    std::vector<std::string> errors;
    const bool ok = reader.Read(&errors);
    Require(ok == errors.empty(), "aperture file: false exactly when a problem is listed");
    const size_t lines = static_cast<size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
    Require(reader.Data().size() <= lines, "aperture file: at most one row per line");
    Require(!ok || !reader.Data().empty(), "aperture file: a file with no row is refused");
    for (const auto& row : reader.Data()) {
        Require(row.size() == CApertureDataFile::kColumns, "aperture file: rows of three");
        for (const double factor : row) Require(!replytext::FormatExp3(factor).empty(), "%.3E of a factor read");
    }
    return 0;
}
