// The program's settings record, kept in the registry, and the two serial
// port records nested in it.
#pragma once

#include <cstdint>

#include "Settings.h"
#include "serial/SerialPort.h"

// The application looks the settings offer ("AppStyle").
enum AppLook : int {
    AppLookOffice2007Blue = 215,
    AppLookOffice2007Black = 216,
    AppLookOffice2007Silver = 217,
    AppLookOffice2007Aqua = 218,
    AppLookWindows7 = 219,
};

// COM settings of the head unit and of the elapsed-time counter (one stop
// bit). A port of 0 or less means no port is chosen.
class CSerialSettings : public CSettings, public SerialPortSettingsStruct {
public:
    CSerialSettings();
    bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                   bool bReset) override;
};

// COM settings of the power supply, which wants two stop bits.
class CAgilentSerialSettings : public CSettings, public SerialPortSettingsStruct {
public:
    CAgilentSerialSettings();
    bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                   bool bReset) override;
};

class CAppSettings : public CSettings {
public:
    CAppSettings();
    // Resets the plain members only; the serial records keep their values.
    bool Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                   bool bReset) override;

    // Severity ceiling of the program's log and the libraries' logs: 6
    // ("Normal") or 7 ("+ Debug"). The program's log filter reads it from
    // any thread, so it is only ever replaced whole.
    int m_nLogCeiling;
    int m_nAppStyle;
    CSerialSettings m_quorvexSerialSettings;
    CAgilentSerialSettings m_agilentSerialSettings;
    CSerialSettings m_etcSerialSettings;
    int m_nWavelengthDisplayUnits;  // 0 nanometres, 1 angstroms
    int m_nYAxisDisplayUnits;       // index into the radiance units
    int m_nDisableAgilentDisplay;   // nonzero: supply display off after connecting
    int m_nShowAperturePositions;
};
