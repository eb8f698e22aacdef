// The rules behind the settings sheet: a working copy of the settings the
// two pages edit, the log entries their changes write, what the port combos
// list and which item they show, and copying the copy back on OK or Apply.
// Nothing here saves to the registry: the program saves at exit.
//
// Ownership and threads: the sheet owns one model and uses it on the GUI
// thread only. The model keeps a reference to the live settings record,
// which must outlive it; it reads that record once, when constructed, and
// writes it only in Ok() and Apply(). The live log ceiling is read by other
// threads, so it is only ever replaced whole.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "AppSettings.h"

class CSettingsSheetModel {
public:
    using LogFunction = std::function<void(int severity, const std::wstring& text)>;

    enum Page { ApplicationPage = 0, HardwarePage = 1 };
    enum Instrument { Head = 0, Supply = 1, Counter = 2 };
    static constexpr int kInstrumentCount = 3;

    // A port a combo lists: its number (0 for "-- Select One --") and text.
    struct PortItem {
        int port;
        std::wstring text;
        bool operator==(const PortItem&) const = default;
    };

    static constexpr const wchar_t* kSelectOne = L"-- Select One --";
    static constexpr const wchar_t* kPortInUse =
        L"The selected port is already in use by another device. Please select an unused port.";

    CSettingsSheetModel(CAppSettings& live, LogFunction log);

    // ---- Application page -------------------------------------------
    // Combo indexes: the looks in AppLook order; logging 0 "Normal", 1 "+ Debug".
    int LookIndex() const { return m_look - AppLookOffice2007Blue; }
    void SetLookIndex(int index);
    int LoggingIndex() const { return m_logCeiling == 7 ? 1 : 0; }
    void SetLoggingIndex(int index);
    int WavelengthUnits() const { return m_wavelengthUnits; }
    void SetWavelengthUnits(int index);
    int YAxisUnits() const { return m_yAxisUnits; }
    void SetYAxisUnits(int index);

    // ---- Hardware page ----------------------------------------------
    bool DisableSupplyDisplay() const { return m_disableSupplyDisplay != 0; }
    void SetDisableSupplyDisplay(bool disable);

    // The ports found on the machine, in the order the combos list them.
    // Until this is called the combos list only the stored ports.
    void SetPresentPorts(std::vector<PortItem> ports);
    bool PortsDiscovered() const { return m_present.has_value(); }
    // "-- Select One --", the present ports, and this instrument's own port
    // when it is not among them.
    std::vector<PortItem> PortItems(Instrument instrument) const;
    // Index in PortItems() of the instrument's port, found by number.
    int PortItemIndex(Instrument instrument) const;
    int Port(Instrument instrument) const { return m_serial[instrument].port; }
    // The user picked `port` (0: "-- Select One --"). A port another
    // instrument's combo shows is refused: the message to show is returned
    // and the working copy keeps its port.
    std::optional<std::wstring> ChoosePort(Instrument instrument, int port);
    // Auto Detect's findings (0: not found, keeps the port it has). An
    // instrument not found loses a port that another was found on.
    void UseDetectedPorts(const std::array<int, kInstrumentCount>& found);

    // ---- The working copy -------------------------------------------
    int LogCeiling() const { return m_logCeiling; }
    int Look() const { return m_look; }
    const SerialPortSettingsStruct& Serial(Instrument instrument) const {
        return m_serial[instrument];
    }
    bool ShowAperturePositions() const { return m_showAperturePositions != 0; }

    bool Modified(Page page) const { return m_modified[page]; }
    bool AnyModified() const { return m_modified[0] || m_modified[1]; }

    // Copy the working copy back to the live record; both pages become
    // unmodified. Cancel needs nothing: the live record was never touched.
    void Ok();
    void Apply();

private:
    void CopyBack();
    void Log(const std::wstring& text) const;
    static std::wstring PortText(int port, bool present);

    CAppSettings& m_live;
    LogFunction m_log;

    int m_logCeiling;
    int m_look;
    std::array<SerialPortSettingsStruct, kInstrumentCount> m_serial;
    int m_wavelengthUnits;
    int m_yAxisUnits;
    int m_disableSupplyDisplay;
    int m_showAperturePositions;

    std::optional<std::vector<PortItem>> m_present;
    std::array<bool, 2> m_modified{false, false};
};
