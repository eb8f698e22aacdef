// The settings record in the registry (QSettings): defaults, partial
// content, round trips and the item conventions of the registry storage.
#include <cstring>
#include <vector>

#include <QByteArray>

#include "AppSettings.h"
#include "PanelTestEnv.h"
#include "SettingsStorageRegistry.h"

namespace {

const QString kKey = QStringLiteral("Application Settings/");

std::unique_ptr<CSettingsStorage> Storage() { return CSettingsStorageRegistry::ForApplicationSettings(); }

// Every value of the record, so that one comparison misses none.
std::vector<int> Values(const CAppSettings& s) {
    std::vector<int> values{s.m_nLogCeiling,          s.m_nAppStyle,
                            s.m_nWavelengthDisplayUnits, s.m_nYAxisDisplayUnits,
                            s.m_nDisableAgilentDisplay, s.m_nShowAperturePositions};
    for (const SerialPortSettingsStruct* p :
         {static_cast<const SerialPortSettingsStruct*>(&s.m_quorvexSerialSettings),
          static_cast<const SerialPortSettingsStruct*>(&s.m_agilentSerialSettings),
          static_cast<const SerialPortSettingsStruct*>(&s.m_etcSerialSettings)})
        values.insert(values.end(),
                      {p->port, p->baud, p->parity, p->dataBits, p->stopBits, p->flowControl});
    return values;
}

// A registry storage that gives up at the first failed item.
class CStrictRegistryStorage : public CSettingsStorageRegistry {
public:
    using CSettingsStorageRegistry::CSettingsStorageRegistry;
    bool ContinueOnError() const override { return false; }
};

}  // namespace

using RegistrySettingsTest = PanelTest;

TEST_F(RegistrySettingsTest, FirstRunKeepsEveryDefaultAndResetRestoresThePlainMembersOnly) {
    CAppSettings settings;
    EXPECT_FALSE(settings.Load(*Storage()));  // the key does not exist yet
    // Ceiling, look, units, display, positions; then port, baud, parity,
    // data bits, stop bits and flow control of the head, supply and counter.
    const std::vector<int> defaults{6, 219, 0, 0, 0, 1, 0, 9600, 0, 8, 0, 0,
                                    0, 9600, 0, 8, 2, 0, 0, 9600, 0, 8, 0, 0};
    EXPECT_EQ(Values(settings), defaults);

    // Reset restores the plain members but leaves the serial records alone.
    settings.m_nLogCeiling = 7;
    settings.m_nShowAperturePositions = 0;
    settings.m_agilentSerialSettings.port = 9;
    settings.m_agilentSerialSettings.stopBits = 1;
    settings.Reset();
    EXPECT_EQ(settings.m_nLogCeiling, 6);
    EXPECT_EQ(settings.m_nShowAperturePositions, 1);
    EXPECT_EQ(settings.m_agilentSerialSettings.port, 9);
    settings.m_agilentSerialSettings.Reset();
    EXPECT_EQ(Values(settings), defaults);
}

TEST_F(RegistrySettingsTest, MissingOrUnreadableValuesTakeDefaultsAndMissingSubKeysKeepRecords) {
    {
        auto registry = Registry();
        registry->setValue(kKey + "LogCeiling", 7);
        registry->setValue(kKey + "AgilentSerialSettings/port", 3);
        registry->setValue(kKey + "YAxisDisplayUnits", 4);
        registry->setValue(kKey + "DisableAgilentDisplay", QStringLiteral("debug"));
        registry->setValue(kKey + "AppStyle", QByteArray("\x01\x02", 2));
        // Hand-written negatives are read; numbers too large are not.
        registry->setValue(kKey + "ETCSerialSettings/port", QStringLiteral("-1"));
        registry->setValue(kKey + "ETCSerialSettings/baud", QStringLiteral("99999999999"));
    }
    CAppSettings settings;
    // Values already in memory survive when their sub-key is missing ...
    settings.m_quorvexSerialSettings.port = 5;
    // ... but a missing or unreadable value of a key that exists takes its
    // default.
    settings.m_nShowAperturePositions = 0;
    settings.m_nDisableAgilentDisplay = 1;
    settings.m_nAppStyle = 215;
    settings.m_etcSerialSettings.baud = 19200;
    EXPECT_TRUE(settings.Load(*Storage()));

    CAppSettings expected;
    expected.m_nLogCeiling = 7;
    expected.m_nYAxisDisplayUnits = 4;
    expected.m_quorvexSerialSettings.port = 5;
    expected.m_agilentSerialSettings.port = 3;
    expected.m_etcSerialSettings.port = -1;
    EXPECT_EQ(Values(settings), Values(expected));
}

TEST_F(RegistrySettingsTest, SaveWritesEveryValueUnderItsNameAndLoadsBack) {
    CAppSettings saved;
    saved.m_nLogCeiling = 7;
    saved.m_nAppStyle = 216;
    saved.m_quorvexSerialSettings.port = 4;
    saved.m_quorvexSerialSettings.baud = 19200;
    saved.m_agilentSerialSettings.port = 5;
    saved.m_agilentSerialSettings.parity = 2;
    saved.m_agilentSerialSettings.dataBits = 7;
    saved.m_etcSerialSettings.port = -1;
    saved.m_etcSerialSettings.flowControl = 5;
    saved.m_nWavelengthDisplayUnits = 1;
    saved.m_nYAxisDisplayUnits = 5;
    saved.m_nDisableAgilentDisplay = 1;
    saved.m_nShowAperturePositions = 0;
    ASSERT_TRUE(saved.Save(*Storage()));

    auto registry = Registry();
    EXPECT_EQ(registry->value(kKey + "LogCeiling").toInt(), 7);
    EXPECT_EQ(registry->value(kKey + "AppStyle").toInt(), 216);
    EXPECT_EQ(registry->value(kKey + "QuorvexSerialSettings/baud").toInt(), 19200);
    EXPECT_EQ(registry->value(kKey + "AgilentSerialSettings/databits").toInt(), 7);
    EXPECT_EQ(registry->value(kKey + "AgilentSerialSettings/stopbits").toInt(), 2);
    EXPECT_EQ(registry->value(kKey + "ETCSerialSettings/flowcontrol").toInt(), 5);
    EXPECT_EQ(registry->value(kKey + "WavelengthDisplayUnits").toInt(), 1);
    EXPECT_EQ(registry->value(kKey + "DisableAgilentDisplay").toInt(), 1);
    EXPECT_EQ(registry->value(kKey + "ShowAperturePositions").toInt(), 0);
    // A negative number keeps the DWORD form.
    EXPECT_EQ(registry->value(kKey + "ETCSerialSettings/port").toLongLong(), 4294967295LL);

    CAppSettings loaded;
    EXPECT_TRUE(loaded.Load(*Storage()));
    EXPECT_EQ(Values(loaded), Values(saved));
}

TEST_F(RegistrySettingsTest, WithoutContinueOnErrorTheFirstMissingValueEndsTheLoad) {
    Registry()->setValue(kKey + "AppStyle", 217);
    CStrictRegistryStorage strict(std::shared_ptr<QSettings>(Registry()), QString(),
                                  QStringLiteral("Application Settings"));
    CAppSettings loaded;
    loaded.m_nLogCeiling = 3;
    EXPECT_FALSE(loaded.Load(strict));
    EXPECT_EQ(loaded.m_nLogCeiling, 3);  // not defaulted: the load stopped
    EXPECT_EQ(loaded.m_nAppStyle, 219);  // never read
}

TEST_F(RegistrySettingsTest, StorageItemsKeepTheirRegistryKinds) {
    auto writer = Storage()->CreateSubStorage(L"Items");
    double d = 123.456789;
    bool b = true;
    std::int16_t neg = -300;
    std::string narrow = "µm";
    char bytes[3] = {1, 0, 2};
    EXPECT_FALSE(writer->Item(L"Double", d, true)) << "written before the key was opened";
    ASSERT_TRUE(writer->StartWrite());
    EXPECT_TRUE(writer->Item(L"Double", d, true) && writer->Item(L"Bool", b, true) &&
                writer->Item(L"Int16", neg, true) && writer->Item(L"Narrow", narrow, true) &&
                writer->BinaryItem(L"Binary", bytes, sizeof bytes, true) && writer->EndWrite());
    auto registry = Registry();
    EXPECT_EQ(registry->value(kKey + "Items/Double").toByteArray().size(), 8);
    EXPECT_EQ(registry->value(kKey + "Items/Bool").toInt(), 1);
    EXPECT_EQ(registry->value(kKey + "Items/Narrow").toString(), QStringLiteral("µm"));

    auto reader = Storage()->CreateSubStorage(L"Items");
    ASSERT_TRUE(reader->StartRead());
    const auto readsBack = [&](const wchar_t* name, auto written) {
        decltype(written) value{};
        return reader->Item(name, value, false) && value == written;
    };
    EXPECT_TRUE(readsBack(L"Double", d) && readsBack(L"Bool", b) && readsBack(L"Int16", neg) &&
                readsBack(L"Narrow", narrow));
    char bytes2[3] = {}, wrongSize[4] = {};
    EXPECT_TRUE(reader->BinaryItem(L"Binary", bytes2, sizeof bytes2, false));
    EXPECT_EQ(std::memcmp(bytes, bytes2, sizeof bytes), 0);
    EXPECT_FALSE(reader->BinaryItem(L"Binary", wrongSize, sizeof wrongSize, false));
    EXPECT_FALSE(reader->Item(L"Missing", d, false));
    // A key that was never written cannot be opened for reading.
    EXPECT_FALSE(Storage()->CreateSubStorage(L"None")->StartRead());
}
