// The settings sheet and the diagnostics information dialog on Qt's
// offscreen platform: Apply enabling, the port controls locked while
// connected, and the head's identification read from the simulated head.
#include "QtTestArgs.h"
#include "InformationDlg.h"
#include "SettingsSheet.h"

#include "SimulatedInstruments.h"

#include <QuorvexDll/QuorvexDll.h>
#include <TallyDll/TallyDll.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <gtest/gtest.h>

#include <memory>

namespace {

using qttest::g_argc;
using qttest::g_argv;

class SheetAndInformationTest : public ::testing::Test {
protected:
    void SetUp() override { m_app = std::make_unique<QApplication>(g_argc, g_argv); }
    void TearDown() override { m_app.reset(); }

    static bool Pump(const std::function<bool()>& condition) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }

    testsupport::CSimulatedInstruments m_sims;  // COM1..COM3 in a private XDG folder
    std::unique_ptr<QApplication> m_app;
};

TEST_F(SheetAndInformationTest, SheetEnablesApplyOnceModifiedAndLocksPortsWhileConnected) {
    {
        CAppSettings settings;
        CSettingsSheet sheet(settings, false);
        EXPECT_TRUE(sheet.windowTitle().isEmpty()) << "the sheet has no caption";
    }
    CAppSettings settings;
    settings.m_nAppStyle = AppLookOffice2007Blue;
    settings.m_quorvexSerialSettings.port = 1;
    for (bool connected : {false, true}) {
        CSettingsSheet sheet(settings, connected);
        CHardwareSettingsPage* hardware = sheet.HardwarePage();
        QSignalSpy discovered(hardware, &CHardwareSettingsPage::PortsDiscovered);
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
        for (int i = 0; i < CSettingsSheetModel::kInstrumentCount; ++i)
            EXPECT_EQ(hardware->PortCombo(static_cast<CSettingsSheetModel::Instrument>(i))->isEnabled(),
                      !connected);
        EXPECT_EQ(hardware->PortCombo(CSettingsSheetModel::Head)->currentData().toInt(), 1);
        ASSERT_TRUE(Pump([&] { return discovered.count() > 0; }));
        EXPECT_EQ(hardware->AutoDetectButton()->isEnabled(), !connected);
        EXPECT_EQ(hardware->AssignButton()->isEnabled(), !connected);
        // The three simulated ports are listed; the head keeps COM1.
        for (int port : {1, 2, 3}) EXPECT_GT(hardware->PortCombo(CSettingsSheetModel::Counter)->findData(port), 0);
        EXPECT_EQ(hardware->PortCombo(CSettingsSheetModel::Head)->currentData().toInt(), 1);

        sheet.ApplicationPage()->StyleCombo()->setCurrentIndex(connected ? 0 : 1);
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        sheet.ApplyButton()->click();
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
        EXPECT_EQ(settings.m_nAppStyle, connected ? AppLookOffice2007Blue : AppLookOffice2007Black);
        hardware->SupplyDisplayCheck()->setChecked(true);
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        sheet.reject();  // Cancel keeps what was applied
        EXPECT_EQ(settings.m_nDisableAgilentDisplay, 0);
    }
}

TEST_F(SheetAndInformationTest, PortItemsOfAConnectedSessionShowWhole) {
    // The program's own connection holds the ports: each item says "(in use)".
    void* head = nullptr;
    void* counter = nullptr;
    ASSERT_EQ(Quorvex_Connect(static_cast<int>(testsupport::CSimulatedInstruments::kHeadCom), 9600, 0,
                              8, 0, 0, &head, 1, nullptr),
              QuorvexSuccess);
    SerialPortSettingsStruct counterPort = CSerialSettings();
    counterPort.port = testsupport::CSimulatedInstruments::kCounterCom;
    ASSERT_EQ(Etc_Connect(counterPort, &counter, 1, nullptr), EtcSuccess);
    {
        CAppSettings settings;
        settings.m_quorvexSerialSettings.port = testsupport::CSimulatedInstruments::kHeadCom;
        settings.m_etcSerialSettings.port = testsupport::CSimulatedInstruments::kCounterCom;
        CSettingsSheet sheet(settings, true);
        CHardwareSettingsPage* hardware = sheet.HardwarePage();
        QSignalSpy discovered(hardware, &CHardwareSettingsPage::PortsDiscovered);
        sheet.PageList()->setCurrentRow(1);
        sheet.show();
        ASSERT_TRUE(Pump([&] { return discovered.count() > 0; }));
        QCoreApplication::processEvents();  // the layout follows the new items
        QComboBox* headCombo = hardware->PortCombo(CSettingsSheetModel::Head);
        ASSERT_TRUE(headCombo->currentText().endsWith(QStringLiteral(" (in use)")))
            << headCombo->currentText().toStdString();
        for (int i = 0; i < CSettingsSheetModel::kInstrumentCount; ++i) {
            QComboBox* combo = hardware->PortCombo(static_cast<CSettingsSheetModel::Instrument>(i));
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            for (int item = 0; item < combo->count(); ++item)
                EXPECT_LE(combo->fontMetrics().horizontalAdvance(combo->itemText(item)), field.width())
                    << combo->itemText(item).toStdString();
        }
    }
    Etc_Disconnect(&counter, 1, nullptr);
    Quorvex_Disconnect(&head, 1, nullptr);
}

TEST_F(SheetAndInformationTest, AutoDetectSelectsTheInstrumentsPortsInTheWorkingCopy) {
    CAppSettings settings;
    CSettingsSheet sheet(settings, false);
    CHardwareSettingsPage* hardware = sheet.HardwarePage();
    ASSERT_TRUE(Pump([&] { return hardware->AutoDetectButton()->isEnabled(); }));
    hardware->AutoDetectButton()->click();
    const auto port = [&](CSettingsSheetModel::Instrument i) { return hardware->PortCombo(i)->currentData().toInt(); };
    // The progress dialog goes only once the worker has ended.
    ASSERT_EQ(hardware->findChildren<QProgressDialog*>().size(), 1);
    const QPointer<QProgressDialog> progress = hardware->findChildren<QProgressDialog*>().front();
    EXPECT_TRUE(progress->isVisible());
    ASSERT_TRUE(Pump([&] { return !progress || !progress->isVisible(); }));
    EXPECT_EQ(port(CSettingsSheetModel::Head), 1);
    EXPECT_EQ(port(CSettingsSheetModel::Supply), 2);
    EXPECT_EQ(port(CSettingsSheetModel::Counter), 3);
    EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
    EXPECT_EQ(settings.m_quorvexSerialSettings.port, 0) << "nothing is stored before OK";
    sheet.accept();
    EXPECT_EQ(settings.m_quorvexSerialSettings.port, 1);
    EXPECT_EQ(settings.m_etcSerialSettings.port, 3);
}

TEST_F(SheetAndInformationTest, InformationDialogShowsTheHeadsIdentification) {
    void* head = nullptr;
    ASSERT_EQ(Quorvex_Connect(static_cast<int>(testsupport::CSimulatedInstruments::kHeadCom), 9600, 0,
                              8, 0, 0, &head, 1, nullptr),
              QuorvexSuccess);
    QuorvexIdentificationStruct id;
    ASSERT_EQ(Quorvex_GetIdentification(head, &id), QuorvexSuccess);
    {
        CInformationDlg dialog(head, nullptr, nullptr);
        dialog.show();
        const auto text = [&](CInformationDlg::Field field) { return dialog.FieldEdit(field)->text(); };
        ASSERT_TRUE(Pump([&] { return !text(CInformationDlg::HeadId).isEmpty(); }));
        EXPECT_EQ(text(CInformationDlg::HeadId).toStdString(), id.response);
        EXPECT_EQ(text(CInformationDlg::SupplyId), QStringLiteral("ERROR"));
        EXPECT_EQ(text(CInformationDlg::CounterId), QStringLiteral("ERROR"));
        ASSERT_TRUE(Pump([&] { return text(CInformationDlg::BulbEnclosure).endsWith(QStringLiteral(" \u00B0C")); }));
        EXPECT_TRUE(text(CInformationDlg::Current).isEmpty());
        EXPECT_TRUE(dialog.FieldEdit(CInformationDlg::HourCount)->isReadOnly());

        // Enclosures in the left column, motors in the right, bulb and
        // primary motor on the top row.
        const auto at = [&](CInformationDlg::Field field) {
            return dialog.FieldEdit(field)->mapTo(&dialog, QPoint(0, 0));
        };
        const QPoint bulb = at(CInformationDlg::BulbEnclosure);
        EXPECT_EQ(at(CInformationDlg::MotorEnclosure).x(), bulb.x());
        EXPECT_GT(at(CInformationDlg::MotorEnclosure).y(), bulb.y());
        EXPECT_EQ(at(CInformationDlg::PrimaryMotor).y(), bulb.y());
        EXPECT_GT(at(CInformationDlg::PrimaryMotor).x(), bulb.x());
        EXPECT_EQ(at(CInformationDlg::SecondaryMotor).x(), at(CInformationDlg::PrimaryMotor).x());
        EXPECT_EQ(at(CInformationDlg::SecondaryMotor).y(), at(CInformationDlg::MotorEnclosure).y());
    }
    Quorvex_Disconnect(&head, 1, nullptr);
}

}  // namespace
