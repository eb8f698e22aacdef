// The "Settings" sheet: an "Application" page (plot units, look, logging,
// the log folder) and a "Hardware" page (the instruments' COM ports with
// Auto Detect and Assign, the supply display switch), picked from a list on
// the left, with OK, Cancel and Apply. The pages edit a CSettingsSheetModel
// working copy; OK and Apply copy it to the live record.
//
// Ownership and threads: everything is created, used and destroyed on the
// GUI thread. The sheet owns the model and both pages; the hardware page
// owns the port scanner that lists ports and runs Auto Detect, which talks
// back only by signals on the GUI thread and is cancelled and joined before
// the page's widgets go. The live settings record must outlive the sheet.
#pragma once

#include <array>
#include <vector>

#include <QDialog>
#include <QWidget>

#include "PortScanner.h"
#include "SettingsSheetModel.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QListWidget;
class QProgressDialog;
class QPushButton;
class QStackedWidget;

class CApplicationSettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit CApplicationSettingsPage(CSettingsSheetModel& model, QWidget* parent = nullptr);

    QComboBox* WavelengthCombo() const { return m_pWavelength; }
    QComboBox* YAxisCombo() const { return m_pYAxis; }
    QComboBox* StyleCombo() const { return m_pStyle; }
    QComboBox* LoggingCombo() const { return m_pLogging; }

signals:
    void Modified();

private:
    void OpenLogFolder();

    CSettingsSheetModel& m_model;
    QComboBox* m_pWavelength;
    QComboBox* m_pYAxis;
    QComboBox* m_pStyle;
    QComboBox* m_pLogging;
};

class CHardwareSettingsPage : public QWidget {
    Q_OBJECT
public:
    // connected: the instruments are in use, so their ports cannot change.
    CHardwareSettingsPage(CSettingsSheetModel& model, bool connected, QWidget* parent = nullptr);
    ~CHardwareSettingsPage() override;

    QComboBox* PortCombo(CSettingsSheetModel::Instrument instrument) const {
        return m_combos[instrument];
    }
    QPushButton* AutoDetectButton() const { return m_pAutoDetect; }
    QPushButton* AssignButton() const { return m_pAssign; }
    QCheckBox* SupplyDisplayCheck() const { return m_pDisableDisplay; }

signals:
    void Modified();
    // The port lists have been filled from a discovery.
    void PortsDiscovered();

private:
    void FillCombos();
    void OnPortPicked(CSettingsSheetModel::Instrument instrument, int index);
    void StartDiscovery();
    void FinishDiscovery(const std::vector<portdiscovery::PortInfo>& ports);
    void UsePresentPorts(const std::vector<portdiscovery::PortInfo>& ports);
    void StartAutoDetect();
    void ShowDetectProgress(int done, int total, const QString& what);
    void FinishAutoDetect(const std::vector<portdiscovery::PortInfo>& ports, const autodetect::Ports& found,
                          bool cancelled);
    void RunAssign();

    CSettingsSheetModel& m_model;
    const bool m_connected;
    std::array<QComboBox*, CSettingsSheetModel::kInstrumentCount> m_combos{};
    QPushButton* m_pAutoDetect;
    QPushButton* m_pAssign;
    QCheckBox* m_pDisableDisplay;
    QProgressDialog* m_pProgress = nullptr;
    CPortScanner m_scanner;  // last: its scans end before the widgets go
};

class CSettingsSheet : public QDialog {
    Q_OBJECT
public:
    // connected: the instruments are connected (the port combos are locked).
    CSettingsSheet(CAppSettings& settings, bool connected, QWidget* parent = nullptr);
    ~CSettingsSheet() override;

    CApplicationSettingsPage* ApplicationPage() const { return m_pApplication; }
    CHardwareSettingsPage* HardwarePage() const { return m_pHardware; }
    QListWidget* PageList() const { return m_pList; }
    QPushButton* ApplyButton() const;

    void accept() override;

private:
    void UpdateApply();

    CSettingsSheetModel m_model;
    QListWidget* m_pList;
    QStackedWidget* m_pStack;
    CApplicationSettingsPage* m_pApplication;
    CHardwareSettingsPage* m_pHardware;
    QDialogButtonBox* m_pButtons;
};
