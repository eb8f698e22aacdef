// The spectral radiance calibration file: one "wavelength,radiance" pair per
// line, ';' starting a comment. Read before a spectral upload and written
// when the held table is saved.
#pragma once

#include "QuorvexDll.h"

#include <string>
#include <vector>

class CSpectralDataFile {
public:
    CSpectralDataFile() = default;
    explicit CSpectralDataFile(std::wstring path, QuorvexSpectralTable data = {})
        : m_strPath(std::move(path)), m_data(std::move(data)) {}

    // Replaces the table with the pairs read. False when the file cannot be
    // opened, any line does not hold a pair or no line does; each problem
    // has its own entry in `errors` and the pairs that did parse stay in the
    // table.
    bool Read(std::vector<std::string>* errors);
    // Creates the file (never overwriting one) and writes the table as
    // "%.2f,%.3E" lines with no line feed after the last.
    bool Write(std::vector<std::string>* errors);

    const std::wstring& Path() const { return m_strPath; }
    const QuorvexSpectralTable& Data() const { return m_data; }
    QuorvexSpectralTable& Data() { return m_data; }

private:
    std::wstring m_strPath;
    QuorvexSpectralTable m_data;
};
