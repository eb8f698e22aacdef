// The "Settings" sheet: an "Application" page (plot units, look, logging,
// the log folder) and a "Hardware" page (the instruments' COM ports with
// Auto Detect and Assign, the supply display switch), picked from a list on
// the left, with OK, Cancel and Apply. The pages edit a CSettingsSheetModel
// working copy; OK and Apply copy it to the live record.
//
// Ownership and threads: everything is created, used and destroyed on the
// GUI thread. The sheet owns the model and both pages; the hardware page
// owns the workers that discover ports and run Auto Detect. A worker talks
// back only through queued calls to its page and is joined before the page
// goes (the destructor cancels and joins a worker still running), so
// nothing a worker reaches is destroyed while it runs. The live settings
// record must outlive the sheet.
#pragma once

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include <QDialog>
#include <QWidget>

#include "PortDiscovery.h"
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
    void FinishAutoDetect(const std::vector<portdiscovery::PortInfo>& ports,
                          const std::array<int, 3>& found);
    void RunAssign();

    CSettingsSheetModel& m_model;
    const bool m_connected;
    std::array<QComboBox*, CSettingsSheetModel::kInstrumentCount> m_combos{};
    QPushButton* m_pAutoDetect;
    QPushButton* m_pAssign;
    QCheckBox* m_pDisableDisplay;
    QProgressDialog* m_pProgress = nullptr;

    // Set by the destructor (and Cancel) so that a worker ends soon.
    std::atomic<bool> m_cancelDiscovery{false};
    std::atomic<bool> m_cancelDetect{false};
    bool m_rediscover = false;  // a discovery was asked for while one ran
    std::thread m_discovery;
    std::thread m_detect;
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
