// The settings sheet's rules (working copy, OK/Apply/Cancel, change log
// entries, logging and port combos) and the information dialog's texts and
// reads, the latter against the simulated instruments.
#include <utility>
#include <vector>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "AppSettings.h"
#include "InformationReader.h"
#include "PanelTestEnv.h"
#include "PsuDll/PsuDll.h"
#include "QuorvexDll/QuorvexDll.h"
#include "SettingsSheetModel.h"
#include "SimulatedInstruments.h"
#include "TallyDll/TallyDll.h"
#include "TestSupport.h"

namespace {

using Model = CSettingsSheetModel;
using Entry = std::pair<int, std::wstring>;

class SettingsSheetModelTest : public PanelTest {
protected:
    SettingsSheetModelTest() {
        m_live.m_quorvexSerialSettings.port = 1;
        m_live.m_agilentSerialSettings.port = 2;
        m_live.m_etcSerialSettings.port = 0;
    }
    Model MakeModel() {
        return Model(m_live, [this](int severity, const std::wstring& text) {
            m_log.emplace_back(severity, text);
        });
    }
    static std::vector<Model::PortItem> Present(std::initializer_list<int> ports) {
        std::vector<Model::PortItem> items;
        for (int port : ports) items.push_back({port, L"COM" + std::to_wstring(port) + L" \u2014 tty"});
        return items;
    }

    CAppSettings m_live;
    std::vector<Entry> m_log;
};

TEST_F(SettingsSheetModelTest, OkApplyAndCancelOnTheLiveRecord) {
    m_live.m_nAppStyle = AppLookOffice2007Blue;
    {
        Model model = MakeModel();
        model.SetLookIndex(1);
        EXPECT_TRUE(model.Modified(Model::ApplicationPage));
        EXPECT_FALSE(model.Modified(Model::HardwarePage));
        EXPECT_EQ(m_live.m_nAppStyle, AppLookOffice2007Blue) << "the live record waits for OK";
        model.Apply();
        EXPECT_FALSE(model.AnyModified());
        EXPECT_EQ(m_live.m_nAppStyle, AppLookOffice2007Black);
        // Changed after Apply, then cancelled: what was applied stays.
        model.SetLookIndex(4);
        model.SetDisableSupplyDisplay(true);
        EXPECT_TRUE(model.Modified(Model::HardwarePage));
    }
    EXPECT_EQ(m_live.m_nAppStyle, AppLookOffice2007Black);
    EXPECT_EQ(m_live.m_nDisableAgilentDisplay, 0);

    Model model = MakeModel();
    model.SetWavelengthUnits(1);
    model.SetYAxisUnits(3);
    model.SetLoggingIndex(1);
    model.SetDisableSupplyDisplay(true);
    EXPECT_FALSE(model.ChoosePort(Model::Counter, 7));
    model.Ok();
    EXPECT_FALSE(model.AnyModified());
    EXPECT_EQ(m_live.m_nWavelengthDisplayUnits, 1);
    EXPECT_EQ(m_live.m_nYAxisDisplayUnits, 3);
    EXPECT_EQ(m_live.m_nLogCeiling, 7);
    EXPECT_EQ(m_live.m_nDisableAgilentDisplay, 1);
    EXPECT_EQ(m_live.m_etcSerialSettings.port, 7);
    EXPECT_EQ(m_live.m_quorvexSerialSettings.port, 1);
    EXPECT_EQ(m_log.back(), Entry(7, L"Settings applied OK button."));
    EXPECT_TRUE(Registry()->allKeys().isEmpty()) << "the program saves at exit, not the sheet";
}

TEST_F(SettingsSheetModelTest, ChangesAreLoggedBeforeTheyAreStored) {
    m_live.m_nAppStyle = AppLookOffice2007Blue;
    m_live.m_nLogCeiling = 6;
    Model model = MakeModel();
    model.SetLookIndex(0);  // the shown entry again: no change
    model.SetLookIndex(1);
    model.SetLoggingIndex(1);
    model.SetWavelengthUnits(1);
    model.SetYAxisUnits(2);
    model.Apply();
    const std::vector<Entry> expected{
        {7, L"Changing application visual style from 215 to 216."},
        {7, L"Changing application logging level from 6 to 7."},
        {7, L"Changing wavelength display units from Nanometers (nm) to Angstroms (\u00C5)."},
        {7, L"Changing y axis display units from W/m^2/sr/nm to R/nm."},
        {7, L"Settings applied Apply button."},
    };
    EXPECT_EQ(m_log, expected);
}

TEST_F(SettingsSheetModelTest, LoggingComboShowsDebugOnlyForSeven) {
    for (auto [stored, shown] : {std::pair{7, 1}, {6, 0}, {5, 0}, {0, 0}}) {
        m_live.m_nLogCeiling = stored;
        EXPECT_EQ(MakeModel().LoggingIndex(), shown) << stored;
    }
    m_live.m_nLogCeiling = 5;
    Model model = MakeModel();
    model.SetLoggingIndex(0);
    model.Ok();
    EXPECT_EQ(m_live.m_nLogCeiling, 5) << "kept unless the user picks another entry";
    model.SetLoggingIndex(1);
    model.SetLoggingIndex(0);
    model.Ok();
    EXPECT_EQ(m_live.m_nLogCeiling, 6);
}

TEST_F(SettingsSheetModelTest, PortInUseByAnotherInstrumentIsRefused) {
    Model model = MakeModel();
    model.SetPresentPorts(Present({1, 2, 3}));
    EXPECT_EQ(model.ChoosePort(Model::Counter, 1), std::wstring(Model::kPortInUse));
    EXPECT_EQ(model.Port(Model::Counter), 0);
    EXPECT_FALSE(model.Modified(Model::HardwarePage));
    EXPECT_EQ(model.ChoosePort(Model::Head, 2), std::wstring(Model::kPortInUse));
    EXPECT_EQ(model.PortItemIndex(Model::Head), 1);
    // "-- Select One --" frees a port for another instrument.
    EXPECT_FALSE(model.ChoosePort(Model::Head, 0));
    EXPECT_FALSE(model.ChoosePort(Model::Counter, 1));
    EXPECT_FALSE(model.ChoosePort(Model::Supply, 0));
    EXPECT_FALSE(model.ChoosePort(Model::Head, 0)) << "several instruments may have none";
    EXPECT_EQ(model.Port(Model::Counter), 1);
    EXPECT_EQ(model.PortItemIndex(Model::Head), 0);
    // Auto Detect: the counter not found gives up the port the head was found on.
    model.UseDetectedPorts({1, 3, 0});
    EXPECT_EQ(std::vector<int>({model.Port(Model::Head), model.Port(Model::Supply), model.Port(Model::Counter)}),
              std::vector<int>({1, 3, 0}));
}

TEST_F(SettingsSheetModelTest, StoredPortIsSelectedByItsExactNumber) {
    Model model = MakeModel();
    // Before discovery: the stored ports, so each combo shows its own.
    const std::vector<Model::PortItem> before{{0, L"-- Select One --"}, {1, L"COM1"}, {2, L"COM2"}};
    EXPECT_EQ(model.PortItems(Model::Counter), before);
    EXPECT_EQ(model.PortItemIndex(Model::Supply), 2);

    model.SetPresentPorts(Present({2, 12}));
    const auto items = model.PortItems(Model::Head);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[3], (Model::PortItem{1, L"COM1 (not present)"}));
    EXPECT_EQ(model.PortItemIndex(Model::Head), 3) << "COM12 must not stand in for COM1";
    EXPECT_EQ(model.PortItems(Model::Counter).size(), 3u) << "only its own absent port";
    model.Ok();
    EXPECT_EQ(m_live.m_quorvexSerialSettings.port, 1) << "kept until the user picks another";
    EXPECT_FALSE(model.ChoosePort(Model::Head, 12));
    EXPECT_EQ(model.PortItems(Model::Head).size(), 3u) << "the absent port goes once another is picked";
    EXPECT_EQ(model.PortItemIndex(Model::Head), 2);
}

TEST(InformationTexts, Formats) {
    EXPECT_EQ(information::HourCountText(3725.0), "01H:02M:05S");
    EXPECT_EQ(information::HourCountText(59.7), "00H:01M:00S");
    EXPECT_EQ(information::HourCountText(0.0), "00H:00M:00S");
    EXPECT_EQ(information::HourCountText(360000.4), "100H:00M:00S");
    EXPECT_EQ(information::CurrentText(1.23456), "1.235 A");
    EXPECT_EQ(information::VoltageText(12.0), "12.000 V");
    EXPECT_EQ(information::PowerCyclesText(42), "42");
    const auto t = information::TemperatureFields({20.0, 21.5, 35.26, 30.0});
    EXPECT_EQ(t.bulbEnclosure, "35.3 \u00B0C");
    EXPECT_EQ(t.motorEnclosure, "30.0 \u00B0C");
    EXPECT_EQ(t.primaryMotor, "20.0 \u00B0C");
    EXPECT_EQ(t.secondaryMotor, "21.5 \u00B0C");
}

// Connects the three simulated instruments through the drivers' exports,
// then drops the supply, keeping its now stale handle for the reader.
class InformationReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        using Sims = testsupport::CSimulatedInstruments;
        ASSERT_EQ(Quorvex_Connect(Sims::kHeadCom, 9600, 0, 8, 0, 0, &m_head, 1, nullptr), QuorvexSuccess);
        ASSERT_EQ(Agilent_Connect({Sims::kSupplyCom, 9600, 0, 8, 2, 0}, &m_supply, 1, nullptr),
                  AgilentSuccess);
        ASSERT_EQ(Etc_Connect({Sims::kCounterCom, 9600, 0, 8, 0, 0}, &m_counter, 1, nullptr), EtcSuccess);
        m_staleSupply = m_supply;
        ASSERT_EQ(Agilent_Disconnect(&m_supply, 1, nullptr), AgilentSuccess);
    }
    void TearDown() override {
        if (m_head) Quorvex_Disconnect(&m_head, 1, nullptr);
        if (m_counter) Etc_Disconnect(&m_counter, 1, nullptr);
    }

    testsupport::CSimulatedInstruments m_sims;
    void* m_head = nullptr;
    void* m_supply = nullptr;
    void* m_staleSupply = nullptr;
    void* m_counter = nullptr;
};

TEST_F(InformationReaderTest, ReadsWhatAnswersAndReportsTheSupplyAsGone) {
    int argc = 1;
    char name[] = "panel_core_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<information::Identifications> ids;
    std::vector<information::Values> values;
    const auto valuesRead = [&](size_t count) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return values.size() >= count;
        });
    };
    {
        CInformationReader reader(
            m_head, m_staleSupply, m_counter,
            [&](information::Identifications read) { ids.push_back(std::move(read)); },
            [&](information::Values read) { values.push_back(std::move(read)); });
        reader.Start();
        EXPECT_FALSE(reader.Refresh()) << "a tick while a refresh runs is skipped";
        ASSERT_TRUE(valuesRead(1));
        ASSERT_TRUE(reader.Refresh());
        ASSERT_TRUE(valuesRead(2));
    }
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0].supply, "ERROR");
    EXPECT_NE(ids[0].head, "ERROR");
    EXPECT_FALSE(ids[0].head.empty());
    EXPECT_NE(ids[0].counter, "ERROR");
    for (const auto& v : values) {
        EXPECT_FALSE(v.current);
        EXPECT_FALSE(v.voltage);
        EXPECT_TRUE(v.temperatures);
        EXPECT_TRUE(v.elapsedSeconds);
        EXPECT_TRUE(v.powerCycles);
    }
}

}  // namespace
