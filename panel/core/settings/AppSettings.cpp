// Items, value names and defaults of the settings records. Loading never
// fails for want of a value: a missing value takes its default and a
// missing sub-key leaves the nested record as it was.
#include "AppSettings.h"

#include "platform/win32.h"

namespace {

constexpr int kDefaultLogCeiling = 6;
constexpr int kDefaultBaud = 9600;
constexpr int kDefaultDataBits = 8;

// One item under the record convention: on failure either stop, or (when
// loading) take the default; a failed save makes the record's result false.
class CItemRun {
public:
    CItemRun(bool bContinueOnError, CSettingsStorage& storage, bool bSave)
        : m_bContinue(bContinueOnError), m_storage(storage), m_bSave(bSave) {}

    // Returns false when the record must stop at once.
    bool Signed(const wchar_t* name, std::int32_t& value, std::int32_t def) {
        return Handle(m_storage.IntItem(name, value, m_bSave), [&] { value = def; });
    }
    bool Unsigned(const wchar_t* name, std::int32_t& value, std::int32_t def) {
        auto dword = static_cast<std::uint32_t>(value);
        const bool bOk = m_storage.UIntItem(name, dword, m_bSave);
        if (bOk && !m_bSave) value = static_cast<std::int32_t>(dword);
        return Handle(bOk, [&] { value = def; });
    }
    bool Record(const wchar_t* name, CSettings& record) {
        return Handle(m_storage.Item(name, record, m_bSave), [] {});
    }

    bool Result() const { return m_bResult; }

private:
    template <typename Default>
    bool Handle(bool bOk, Default assignDefault) {
        if (bOk) return true;
        if (!m_bContinue) {
            m_bResult = false;
            return false;
        }
        if (m_bSave)
            m_bResult = false;
        else
            assignDefault();
        return true;
    }

    bool m_bContinue;
    CSettingsStorage& m_storage;
    bool m_bSave;
    bool m_bResult = true;
};

void SetSerialDefaults(SerialPortSettingsStruct& s, int stopBits) {
    s.port = 0;
    s.baud = kDefaultBaud;
    s.parity = 0;
    s.dataBits = kDefaultDataBits;
    s.stopBits = stopBits;
    s.flowControl = 0;
}

bool SerializeSerial(SerialPortSettingsStruct& s, int defaultStopBits, bool bContinueOnError,
                     CSettingsStorage& storage, bool bSave, bool bReset) {
    if (bReset) {
        SetSerialDefaults(s, defaultStopBits);
        return true;
    }
    CItemRun run(bContinueOnError, storage, bSave);
    run.Signed(L"port", s.port, 0) && run.Signed(L"baud", s.baud, kDefaultBaud) &&
        run.Unsigned(L"parity", s.parity, 0) &&
        run.Unsigned(L"databits", s.dataBits, kDefaultDataBits) &&
        run.Unsigned(L"stopbits", s.stopBits, defaultStopBits) &&
        run.Unsigned(L"flowcontrol", s.flowControl, 0);
    return run.Result();
}

}  // namespace

CSerialSettings::CSerialSettings() : SerialPortSettingsStruct{} {
    SetSerialDefaults(*this, ONESTOPBIT);
}

bool CSerialSettings::Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                                bool bReset) {
    return SerializeSerial(*this, ONESTOPBIT, bContinueOnError, storage, bSave, bReset);
}

CAgilentSerialSettings::CAgilentSerialSettings() : SerialPortSettingsStruct{} {
    SetSerialDefaults(*this, TWOSTOPBITS);
}

bool CAgilentSerialSettings::Serialize(bool bContinueOnError, CSettingsStorage& storage,
                                       bool bSave, bool bReset) {
    return SerializeSerial(*this, TWOSTOPBITS, bContinueOnError, storage, bSave, bReset);
}

CAppSettings::CAppSettings() { Reset(); }

bool CAppSettings::Serialize(bool bContinueOnError, CSettingsStorage& storage, bool bSave,
                             bool bReset) {
    if (bReset) {
        m_nLogCeiling = kDefaultLogCeiling;
        m_nAppStyle = AppLookWindows7;
        m_nWavelengthDisplayUnits = 0;
        m_nYAxisDisplayUnits = 0;
        m_nDisableAgilentDisplay = 0;
        m_nShowAperturePositions = 1;
        return true;
    }
    CItemRun run(bContinueOnError, storage, bSave);
    run.Signed(L"LogCeiling", m_nLogCeiling, kDefaultLogCeiling) &&
        run.Signed(L"AppStyle", m_nAppStyle, AppLookWindows7) &&
        run.Record(L"QuorvexSerialSettings", m_quorvexSerialSettings) &&
        run.Record(L"AgilentSerialSettings", m_agilentSerialSettings) &&
        run.Record(L"ETCSerialSettings", m_etcSerialSettings) &&
        run.Unsigned(L"WavelengthDisplayUnits", m_nWavelengthDisplayUnits, 0) &&
        run.Unsigned(L"YAxisDisplayUnits", m_nYAxisDisplayUnits, 0) &&
        run.Signed(L"DisableAgilentDisplay", m_nDisableAgilentDisplay, 0) &&
        run.Signed(L"ShowAperturePositions", m_nShowAperturePositions, 1);
    return run.Result();
}
