// The aperture attenuation calibration file. The upload file starts with a
// "rows,columns" header and then holds one row of three factors per line;
// the saved form has no header (and so is not read back by Read).
#pragma once

#include "QuorvexDll.h"

#include <string>
#include <vector>

class CApertureDataFile {
public:
    static constexpr int kColumns = 3;

    CApertureDataFile() = default;
    explicit CApertureDataFile(std::wstring path, QuorvexApertureTable data = {})
        : m_strPath(std::move(path)), m_data(std::move(data)) {}

    // Reads header and rows. A bad header leaves the table as it was; a bad
    // data line still adds a row (the values that did not convert are 0).
    // False on any problem, each with its entry in `errors`; a file with no
    // data row is one.
    bool Read(std::vector<std::string>* errors);
    // Creates the file (never overwriting one): "%.3E" values joined by ",",
    // rows by line feeds, no line feed after the last row.
    bool Write(std::vector<std::string>* errors);

    const std::wstring& Path() const { return m_strPath; }
    const QuorvexApertureTable& Data() const { return m_data; }
    QuorvexApertureTable& Data() { return m_data; }

private:
    std::wstring m_strPath;
    QuorvexApertureTable m_data;
};
