// Spectral calibration file (see SpectralDataFile.h).
#include "SpectralDataFile.h"

#include "CalibrationFile.h"

#include <platform/text.h>
#include <serial/ReplyText.h>

using quorvexdll::AddError;

bool CSpectralDataFile::Read(std::vector<std::string>* errors) {
    if (errors) errors->clear();
    m_data.clear();

    quorvexdll::CCalibrationFile file;
    if (!quorvexdll::OpenForReading(file, m_strPath, errors)) return false;

    bool ok = true;
    auto handle = [&](const std::string& raw) {
        const std::string line = quorvexdll::CleanLine(raw);
        double values[2];
        if (replytext::ScanDoubles(line, values, 2) == 2) {
            m_data.emplace_back(values[0], values[1]);
        } else {
            AddError(errors, platform::Format("Error 2 values from line \"%s\"", line.c_str()));
            ok = false;
        }
    };
    quorvexdll::ForEachLine(file, handle);
    if (m_data.empty()) {
        AddError(errors, quorvexdll::NoEntriesText(m_strPath));
        ok = false;
    }
    return ok;
}

bool CSpectralDataFile::Write(std::vector<std::string>* errors) {
    std::string text;
    text.reserve(m_data.size() * 20);
    for (size_t i = 0; i < m_data.size(); ++i) {
        if (i > 0) text += '\n';
        text += replytext::FormatFixed(m_data[i].first, 2);
        text += ',';
        text += replytext::FormatExp3(m_data[i].second);
    }
    return quorvexdll::WriteNewFile(m_strPath, text, errors);
}
