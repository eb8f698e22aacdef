// Aperture calibration file (see ApertureDataFile.h).
#include "ApertureDataFile.h"

#include "CalibrationFile.h"

#include <platform/text.h>
#include <serial/ReplyText.h>

using quorvexdll::AddError;

bool CApertureDataFile::Read(std::vector<std::string>* errors) {
    if (errors) errors->clear();

    quorvexdll::CCalibrationFile file;
    if (!quorvexdll::OpenForReading(file, m_strPath, errors)) return false;

    // The header: "rows,columns"; only the column count is checked.
    std::string raw;
    const bool end = file.ReadLine(raw);
    const std::string header = quorvexdll::CleanLine(raw);
    int counts[2] = {0, 0};
    if (replytext::ScanInts(header, counts, 2) < 2) {
        AddError(errors, platform::Format("Error converting line 1 into 2 doubles \"%s\"", header.c_str()));
        return false;
    }
    const int expectedColumns = counts[1];

    m_data.clear();
    bool ok = true;
    auto handle = [&](const std::string& rawLine) {
        const std::string line = quorvexdll::CleanLine(rawLine);
        double values[kColumns] = {0.0, 0.0, 0.0};
        if (replytext::ScanDoubles(line, values, kColumns) < kColumns) {
            AddError(errors, platform::Format("Error converting line into 3 doubles \"%s\"", line.c_str()));
            ok = false;
        }
        m_data.emplace_back(values, values + kColumns);
    };
    if (!end) quorvexdll::ForEachLine(file, handle);

    // With no data line there is no first row to count columns in, and
    // nothing to upload: the file is refused for that alone.
    if (m_data.empty()) {
        AddError(errors, quorvexdll::NoEntriesText(m_strPath));
        return false;
    }
    const int columnsRead = static_cast<int>(m_data.front().size());
    if (expectedColumns != columnsRead) {
        AddError(errors, platform::Format("Incorrect number of cols read. Expected %d, read %d",
                                          expectedColumns, columnsRead));
        ok = false;
    }
    return ok;
}

bool CApertureDataFile::Write(std::vector<std::string>* errors) {
    std::string text;
    for (size_t r = 0; r < m_data.size(); ++r) {
        if (r > 0) text += '\n';
        for (size_t c = 0; c < m_data[r].size(); ++c) {
            if (c > 0) text += ',';
            text += replytext::FormatExp3(m_data[r][c]);
        }
    }
    return quorvexdll::WriteNewFile(m_strPath, text, errors);
}
