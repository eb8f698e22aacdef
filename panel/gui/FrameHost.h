// What the main window needs of the program around it: the settings record,
// the calibration copy, the log and the saving of both. The application
// object provides it, so the window never reaches for the application
// itself and the application may create the window without a circle.
//
// Threads: GUI thread only, except Log, which any thread may call. The host
// outlives the window it is given to.
#pragma once

#include <string>

#include "AppSettings.h"
#include "CalibrationData.h"

class IFrameHost {
public:
    virtual CAppSettings& Settings() = 0;
    virtual CCalibrationData& Calibration() = 0;
    // The per-run log file the error bar opens.
    virtual const std::wstring& LogFile() const = 0;
    // Writes to the program's log when `severity` passes the ceiling setting.
    virtual void Log(int severity, const std::wstring& message) = 0;
    // False when the settings could not be stored (logged at Error).
    virtual bool SaveSettings() = 0;
    // False when Calibration.ini was left as it was (logged at Error).
    virtual bool SaveCalibrationData() = 0;

protected:
    ~IFrameHost() = default;
};
