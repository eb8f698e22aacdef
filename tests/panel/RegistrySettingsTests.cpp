// The settings record in the registry (QSettings): defaults, partial
// content, round trips and the item conventions of the registry storage.
#include <cstring>

#include <QByteArray>

#include "AppSettings.h"
#include "PanelTestEnv.h"
#include "SettingsStorageRegistry.h"

namespace {

const QString kKey = QStringLiteral("Application Settings/");

CAppSettings LoadAppSettings(bool* pOk = nullptr) {
    CAppSettings settings;
    auto storage = CSettingsStorageRegistry::ForApplicationSettings();
    const bool bOk = settings.Load(*storage);
    if (pOk) *pOk = bOk;
    return settings;
}

void ExpectSerialDefaults(const SerialPortSettingsStruct& s, int stopBits) {
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(s.baud, 9600);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.stopBits, stopBits);
    EXPECT_EQ(s.flowControl, 0);
}

// A registry storage that gives up at the first failed item.
class CStrictRegistryStorage : public CSettingsStorageRegistry {
public:
    using CSettingsStorageRegistry::CSettingsStorageRegistry;
    bool ContinueOnError() const override { return false; }
};

}  // namespace

using RegistrySettingsTest = PanelTest;

TEST_F(RegistrySettingsTest, FirstRunKeepsEveryDefaultAndReportsTheMissingKey) {
    bool bOk = true;
    const CAppSettings settings = LoadAppSettings(&bOk);
    EXPECT_FALSE(bOk);  // the key does not exist yet
    EXPECT_EQ(settings.m_nLogCeiling, 6);
    EXPECT_EQ(settings.m_nAppStyle, 219);
    ExpectSerialDefaults(settings.m_quorvexSerialSettings, 0);
    ExpectSerialDefaults(settings.m_agilentSerialSettings, 2);
    ExpectSerialDefaults(settings.m_etcSerialSettings, 0);
    EXPECT_EQ(settings.m_nWavelengthDisplayUnits, 0);
    EXPECT_EQ(settings.m_nYAxisDisplayUnits, 0);
    EXPECT_EQ(settings.m_nDisableAgilentDisplay, 0);
    EXPECT_EQ(settings.m_nShowAperturePositions, 1);
}

TEST_F(RegistrySettingsTest, PartialContentTakesDefaultsPerValueAndKeepsRecordsOfMissingSubKeys) {
    {
        auto registry = Registry();
        registry->setValue(kKey + "LogCeiling", 7);
        registry->setValue(kKey + "AgilentSerialSettings/port", 3);
        registry->setValue(kKey + "YAxisDisplayUnits", 4);
    }
    CAppSettings settings;
    // Values already in memory survive when their sub-key is missing ...
    settings.m_quorvexSerialSettings.port = 5;
    // ... but a missing value of a key that exists takes its default.
    settings.m_nAppStyle = 215;
    settings.m_nShowAperturePositions = 0;
    auto storage = CSettingsStorageRegistry::ForApplicationSettings();
    EXPECT_TRUE(settings.Load(*storage));

    EXPECT_EQ(settings.m_nLogCeiling, 7);
    EXPECT_EQ(settings.m_nAppStyle, 219);
    EXPECT_EQ(settings.m_nShowAperturePositions, 1);
    EXPECT_EQ(settings.m_nYAxisDisplayUnits, 4);
    EXPECT_EQ(settings.m_quorvexSerialSettings.port, 5);
    EXPECT_EQ(settings.m_agilentSerialSettings.port, 3);
    EXPECT_EQ(settings.m_agilentSerialSettings.baud, 9600);
    EXPECT_EQ(settings.m_agilentSerialSettings.stopBits, 2);
    ExpectSerialDefaults(settings.m_etcSerialSettings, 0);
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
    auto storage = CSettingsStorageRegistry::ForApplicationSettings();
    ASSERT_TRUE(saved.Save(*storage));

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

    bool bOk = false;
    const CAppSettings loaded = LoadAppSettings(&bOk);
    EXPECT_TRUE(bOk);
    EXPECT_EQ(loaded.m_nLogCeiling, 7);
    EXPECT_EQ(loaded.m_nAppStyle, 216);
    EXPECT_EQ(loaded.m_quorvexSerialSettings.port, 4);
    EXPECT_EQ(loaded.m_quorvexSerialSettings.baud, 19200);
    EXPECT_EQ(loaded.m_agilentSerialSettings.parity, 2);
    EXPECT_EQ(loaded.m_etcSerialSettings.port, -1);
    EXPECT_EQ(loaded.m_nYAxisDisplayUnits, 5);
    EXPECT_EQ(loaded.m_nShowAperturePositions, 0);
}

TEST_F(RegistrySettingsTest, UnreadableValuesTakeDefaultsAndHandWrittenNegativesAreRead) {
    {
        auto registry = Registry();
        registry->setValue(kKey + "LogCeiling", QStringLiteral("debug"));
        registry->setValue(kKey + "AppStyle", QByteArray("\x01\x02", 2));
        registry->setValue(kKey + "QuorvexSerialSettings/port", QStringLiteral("-1"));
        registry->setValue(kKey + "QuorvexSerialSettings/baud", QStringLiteral("99999999999"));
    }
    const CAppSettings settings = LoadAppSettings();
    EXPECT_EQ(settings.m_nLogCeiling, 6);
    EXPECT_EQ(settings.m_nAppStyle, 219);
    EXPECT_EQ(settings.m_quorvexSerialSettings.port, -1);
    EXPECT_EQ(settings.m_quorvexSerialSettings.baud, 9600);
}

TEST_F(RegistrySettingsTest, WithoutContinueOnErrorTheFirstMissingValueEndsTheLoad) {
    Registry()->setValue(kKey + "AppStyle", 217);
    auto settings = std::make_shared<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("Vandrel Scientific Ltd"),
                                                QStringLiteral("Quorvex Control Panel"));
    CStrictRegistryStorage strict(settings, QString(), QStringLiteral("Application Settings"));
    CAppSettings loaded;
    loaded.m_nLogCeiling = 3;
    EXPECT_FALSE(loaded.Load(strict));
    EXPECT_EQ(loaded.m_nLogCeiling, 3);  // not defaulted: the load stopped
    EXPECT_EQ(loaded.m_nAppStyle, 219);  // never read
}

TEST_F(RegistrySettingsTest, ResetRestoresPlainMembersButNotTheSerialRecords) {
    CAppSettings settings;
    settings.m_nLogCeiling = 7;
    settings.m_nShowAperturePositions = 0;
    settings.m_agilentSerialSettings.port = 9;
    settings.Reset();
    EXPECT_EQ(settings.m_nLogCeiling, 6);
    EXPECT_EQ(settings.m_nShowAperturePositions, 1);
    EXPECT_EQ(settings.m_agilentSerialSettings.port, 9);
    settings.m_agilentSerialSettings.Reset();
    ExpectSerialDefaults(settings.m_agilentSerialSettings, 2);
}

TEST_F(RegistrySettingsTest, StorageItemsKeepTheirRegistryKinds) {
    auto writer = CSettingsStorageRegistry::ForApplicationSettings()->CreateSubStorage(L"Items");
    double d = 123.456789;
    bool b = true;
    std::int16_t neg = -300;
    std::string narrow = "µm";
    char bytes[3] = {1, 0, 2};
    // Nothing can be written before the key is opened.
    EXPECT_FALSE(writer->Item(L"Double", d, true));
    ASSERT_TRUE(writer->StartWrite());
    EXPECT_TRUE(writer->Item(L"Double", d, true));
    EXPECT_TRUE(writer->Item(L"Bool", b, true));
    EXPECT_TRUE(writer->Item(L"Int16", neg, true));
    EXPECT_TRUE(writer->Item(L"Narrow", narrow, true));
    EXPECT_TRUE(writer->BinaryItem(L"Binary", bytes, sizeof bytes, true));
    EXPECT_TRUE(writer->EndWrite());

    auto registry = Registry();
    EXPECT_EQ(registry->value(kKey + "Items/Double").toByteArray().size(), 8);
    EXPECT_EQ(registry->value(kKey + "Items/Bool").toInt(), 1);
    EXPECT_EQ(registry->value(kKey + "Items/Narrow").toString(), QStringLiteral("µm"));

    double d2 = 0;
    bool b2 = false;
    std::int16_t neg2 = 0;
    std::string narrow2;
    char bytes2[3] = {};
    char wrongSize[4] = {};
    auto reader = CSettingsStorageRegistry::ForApplicationSettings()->CreateSubStorage(L"Items");
    ASSERT_TRUE(reader->StartRead());
    EXPECT_TRUE(reader->Item(L"Double", d2, false));
    EXPECT_TRUE(reader->Item(L"Bool", b2, false));
    EXPECT_TRUE(reader->Item(L"Int16", neg2, false));
    EXPECT_TRUE(reader->Item(L"Narrow", narrow2, false));
    EXPECT_TRUE(reader->BinaryItem(L"Binary", bytes2, sizeof bytes2, false));
    EXPECT_FALSE(reader->BinaryItem(L"Binary", wrongSize, sizeof wrongSize, false));
    EXPECT_FALSE(reader->Item(L"Missing", d2, false));
    EXPECT_EQ(d2, d);
    EXPECT_TRUE(b2);
    EXPECT_EQ(neg2, -300);
    EXPECT_EQ(narrow2, narrow);
    EXPECT_EQ(std::memcmp(bytes, bytes2, sizeof bytes), 0);

    // A key that was never written cannot be opened for reading.
    auto missing = CSettingsStorageRegistry::ForApplicationSettings()->CreateSubStorage(L"None");
    EXPECT_FALSE(missing->StartRead());
    EXPECT_TRUE(missing->EndRead());
}
