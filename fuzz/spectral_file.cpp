// Fuzz target: the spectral calibration file reader. The input is the file;
// the pairs read are formatted as an upload sends them.
#include "FuzzSupport.h"
#include "SpectralDataFile.h"

#include <serial/ReplyText.h>

#include <algorithm>
#include <cstdint>

using fuzzsupport::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::CScratchFile file("spectral.txt");
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    file.Write(content);

    CSpectralDataFile reader(file.WidePath());
    std::vector<std::string> errors;
    const bool ok = reader.Read(&errors);
    Require(ok == errors.empty(), "spectral file: false exactly when a line is listed");
    const size_t lines = static_cast<size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
    // One entry per line at most, and one more for a file with no pair.
    const size_t noPair = reader.Data().empty() ? 1 : 0;
    Require(reader.Data().size() + errors.size() <= lines + noPair, "spectral file: at most one entry per line");
    Require(!reader.Data().empty() || !ok, "spectral file: a file with no pair is refused");
    for (const auto& [wavelength, radiance] : reader.Data()) {
        Require(!replytext::FormatFixed(wavelength, 2).empty(), "%.2f of a wavelength read");
        Require(!replytext::FormatExp3(radiance).empty(), "%.3E of a radiance read");
    }
    return 0;
}
