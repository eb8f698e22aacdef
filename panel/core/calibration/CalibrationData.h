// The program's copy of the head unit's calibration: serial number, aperture
// table and spectral table, kept in Calibration.ini and exported as CSV.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Settings.h"

// One aperture table entry: the attenuation factor for a pair of wheel
// positions (0-based).
class CApertureData : public CSettings {
public:
    CApertureData() = default;
    CApertureData(double attenuationFactor, int primaryPosition, int secondaryPosition)
        : m_dAttenuationFactor(attenuationFactor),
          m_nPrimaryPosition(primaryPosition),
          m_nSecondaryPosition(secondaryPosition) {}

    // Succeeds only when every item does; nothing is defaulted.
    bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                   bool bReset) override;

    double m_dAttenuationFactor = 0.0;
    int m_nPrimaryPosition = 0;
    int m_nSecondaryPosition = 0;
};

// One spectral table entry: wavelength in nm and spectral radiance in
// W/m^2/sr/nm.
class CSpectralData : public CSettings {
public:
    CSpectralData() = default;
    CSpectralData(double wavelength, double radiance)
        : m_dWavelength(wavelength), m_dRadiance(radiance) {}

    bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                   bool bReset) override;

    double m_dWavelength = 0.0;
    double m_dRadiance = 0.0;
};

class CCalibrationData : public CSettings {
public:
    // The tables as the head library hands them over.
    using HeadApertureTable = std::vector<std::vector<double>>;
    using HeadSpectralTable = std::vector<std::pair<double, double>>;

    CCalibrationData() { Reset(); }

    // Reset sets the serial number to -1 and leaves the tables alone.
    bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                   bool bReset) override;

    // Replaces both tables with the head's: row r of the aperture table is
    // secondary position 11 - r, element c of a row primary position 2 - c.
    // The serial number is left alone.
    void FillFromHead(const HeadApertureTable& apertureRows,
                      const HeadSpectralTable& spectralPairs);

    // Writes the CSV export (CR LF line breaks). False when the file cannot
    // be written.
    bool ExportCalibrationData(const std::wstring& path) const;
    // The text ExportCalibrationData writes.
    std::string ExportText() const;

    int m_nSerialNumber = -1;  // -1: no head has been read
    std::vector<CApertureData> m_apertureData;
    std::vector<CSpectralData> m_spectralData;
};
