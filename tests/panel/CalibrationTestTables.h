// Two calibrations of different sizes for the Calibration.ini save tests and
// the child process that saves them while the tests kill it: A is the
// simulated head's factory calibration, B a shorter one whose every value
// differs. Header-only, so the child and the tests build the same tables.
#pragma once

#include <string>

#include "CalibrationData.h"
#include "HeadSimulator.h"
#include "platform/text.h"

namespace calibrationtables {

inline CCalibrationData TableA() {
    CCalibrationData data;
    data.FillFromHead(sim::CHeadSimulator::FactoryApertureRows(),
                      sim::CHeadSimulator::FactorySpectrum());
    data.m_nSerialNumber = 10427;
    return data;
}

inline CCalibrationData TableB() {
    const CCalibrationData a = TableA();
    CCalibrationData data;
    data.m_nSerialNumber = 20815;
    for (std::size_t i = 0; i < 7; ++i) {
        const CApertureData& entry = a.m_apertureData[i];
        data.m_apertureData.emplace_back(entry.m_dAttenuationFactor * 2.0, entry.m_nPrimaryPosition,
                                         entry.m_nSecondaryPosition);
    }
    for (std::size_t i = 0; i < 40; ++i)
        data.m_spectralData.emplace_back(a.m_spectralData[i].m_dWavelength + 5.0,
                                         a.m_spectralData[i].m_dRadiance * 3.0);
    return data;
}

// Every value of a calibration, for comparing two of them exactly.
inline std::string Describe(const CCalibrationData& data) {
    std::string text = platform::Format("serial %d\n", data.m_nSerialNumber);
    for (const CApertureData& e : data.m_apertureData)
        text += platform::Format("aperture %.17g %d %d\n", e.m_dAttenuationFactor,
                                 e.m_nPrimaryPosition, e.m_nSecondaryPosition);
    for (const CSpectralData& e : data.m_spectralData)
        text += platform::Format("spectral %.17g %.17g\n", e.m_dWavelength, e.m_dRadiance);
    return text;
}

}  // namespace calibrationtables
