// The settings sheet's two pages, their workers and the sheet around them.
#include "SettingsSheet.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "AppPaths.h"
#include "DisplayUnits.h"
#include "FrameHost.h"
#include "PortAssign.h"
#include "serial/DriverLog.h"

namespace {

using Instrument = CSettingsSheetModel::Instrument;

constexpr int kPortComboWidth = 260;  // the narrowest the port combos get

// The program's log when the program runs; tests run the sheet without it.
void LogToApp(int severity, const std::wstring& text) {
    if (auto* host = dynamic_cast<IFrameHost*>(QCoreApplication::instance())) host->Log(severity, text);
}

QString BoxTitle() { return QGuiApplication::applicationDisplayName(); }

QGridLayout* LabelledRow(QGridLayout* grid, int row, const QString& label, QWidget* field,
                         const QString& note = {}) {
    grid->addWidget(new QLabel(label), row, 0);
    grid->addWidget(field, row, 1);
    if (!note.isEmpty()) grid->addWidget(new QLabel(note), row, 2);
    return grid;
}

// Cancel (button, Escape or close box) only asks the worker to stop: the
// dialog stays until the worker has ended and its owner closes it.
class CWorkerProgress : public QProgressDialog {
public:
    explicit CWorkerProgress(QWidget* parent) : QProgressDialog(parent) {
        QObject::disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
        setAutoClose(false);
        setAutoReset(false);
        setMinimumDuration(0);
    }
    void reject() override { emit canceled(); }
};

}  // namespace

// ---- Application page ------------------------------------------------

CApplicationSettingsPage::CApplicationSettingsPage(CSettingsSheetModel& model, QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_pWavelength(new QComboBox),
      m_pYAxis(new QComboBox),
      m_pStyle(new QComboBox),
      m_pLogging(new QComboBox) {
    for (int i = 0; i < displayunits::kWavelengthUnitCount; ++i)
        m_pWavelength->addItem(QString::fromUtf8(displayunits::Wavelength(i).longName));
    for (int i = 0; i < displayunits::kRadianceUnitCount; ++i)
        m_pYAxis->addItem(QString::fromUtf8(displayunits::Radiance(i).label));
    m_pStyle->addItems({QStringLiteral("Office 2007 (Blue)"), QStringLiteral("Office 2007 (Black)"),
                        QStringLiteral("Office 2007 (Silver)"), QStringLiteral("Office 2007 (Aqua)"),
                        QStringLiteral("Windows 7")});
    m_pLogging->addItems({QStringLiteral("Normal"), QStringLiteral("+ Debug")});
    m_pWavelength->setCurrentIndex(model.WavelengthUnits());
    m_pYAxis->setCurrentIndex(model.YAxisUnits());
    m_pStyle->setCurrentIndex(model.LookIndex());
    m_pLogging->setCurrentIndex(model.LoggingIndex());

    auto* units = new QGroupBox(QStringLiteral("Plot Units"));
    auto* unitsGrid = new QGridLayout(units);
    LabelledRow(unitsGrid, 0, QStringLiteral("X-Axis:"), m_pWavelength, QStringLiteral("(Wavelength)"));
    LabelledRow(unitsGrid, 1, QStringLiteral("Y-Axis:"), m_pYAxis, QStringLiteral("(Emission Rate)"));

    auto* openLogs = new QPushButton(QStringLiteral("Open Log Folder"));
    auto* misc = new QGroupBox(QStringLiteral("Misc."));
    auto* miscGrid = new QGridLayout(misc);
    LabelledRow(miscGrid, 0, QStringLiteral("Style:"), m_pStyle);
    LabelledRow(miscGrid, 1, QStringLiteral("Logging: "), m_pLogging);
    miscGrid->addWidget(openLogs, 2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(units);
    layout->addWidget(misc);
    layout->addStretch();

    // Connected after the initial selection, so only the user's picks count.
    const auto track = [this](QComboBox* combo, void (CSettingsSheetModel::*set)(int)) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, set](int index) {
            if (index < 0) return;
            (m_model.*set)(index);
            emit Modified();
        });
    };
    track(m_pWavelength, &CSettingsSheetModel::SetWavelengthUnits);
    track(m_pYAxis, &CSettingsSheetModel::SetYAxisUnits);
    track(m_pStyle, &CSettingsSheetModel::SetLookIndex);
    track(m_pLogging, &CSettingsSheetModel::SetLoggingIndex);
    connect(openLogs, &QPushButton::clicked, this, &CApplicationSettingsPage::OpenLogFolder);
}

void CApplicationSettingsPage::OpenLogFolder() {
    std::wstring appData;
    if (!apppaths::GetApplicationDataFolder(appData)) {
        const std::wstring text = L"Error getting path to application data folder!";
        LogToApp(driverlog::Error, text);
        QMessageBox::critical(this, BoxTitle(), QString::fromStdWString(text));
        return;
    }
    const std::wstring folder = apppaths::JoinFolder(apppaths::DataFolder(appData), L"logs");
    LogToApp(driverlog::Debug, L"Opening log folder \"" + folder + L"\"");
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdWString(folder)));
}

// ---- Hardware page ---------------------------------------------------

CHardwareSettingsPage::CHardwareSettingsPage(CSettingsSheetModel& model, bool connected,
                                             QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_connected(connected),
      m_pAutoDetect(new QPushButton(QStringLiteral("Auto Detect"))),
      m_pAssign(new QPushButton(QStringLiteral("Assign..."))),
      m_pDisableDisplay(new QCheckBox(QStringLiteral("Disable Agilent Power Supply Display"))) {
    auto* ports = new QGroupBox(QStringLiteral("Communication Ports"));
    auto* portsGrid = new QGridLayout(ports);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pAutoDetect);
    buttons->addWidget(m_pAssign);
    buttons->addStretch();
    portsGrid->addLayout(buttons, 0, 0, 1, 2);
    const QString labels[] = {QStringLiteral("Quorvex Head Unit:"),
                              QStringLiteral("Agilent Power Supply:"),
                              QStringLiteral("Elapsed Time Counter:")};
    for (int i = 0; i < CSettingsSheetModel::kInstrumentCount; ++i) {
        m_combos[i] = new QComboBox;
        m_combos[i]->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        m_combos[i]->setEnabled(!connected);
        LabelledRow(portsGrid, i + 1, labels[i], m_combos[i]);
        // activated: the user's picks only, not our own refills.
        connect(m_combos[i], &QComboBox::activated, this,
                [this, i](int index) { OnPortPicked(static_cast<Instrument>(i), index); });
    }

    auto* advanced = new QGroupBox(QStringLiteral("Advanced"));
    auto* advancedLayout = new QVBoxLayout(advanced);
    advancedLayout->addWidget(m_pDisableDisplay);
    m_pDisableDisplay->setChecked(model.DisableSupplyDisplay());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ports);
    layout->addWidget(advanced);
    layout->addStretch();

    connect(m_pDisableDisplay, &QCheckBox::toggled, this, [this](bool checked) {
        m_model.SetDisableSupplyDisplay(checked);
        emit Modified();
    });
    connect(m_pAutoDetect, &QPushButton::clicked, this, &CHardwareSettingsPage::StartAutoDetect);
    connect(m_pAssign, &QPushButton::clicked, this, &CHardwareSettingsPage::RunAssign);
    connect(&m_scanner, &CPortScanner::PortsFound, this, &CHardwareSettingsPage::FinishDiscovery);
    connect(&m_scanner, &CPortScanner::Progress, this, &CHardwareSettingsPage::ShowDetectProgress);
    connect(&m_scanner, &CPortScanner::Detected, this, &CHardwareSettingsPage::FinishAutoDetect);

    FillCombos();
    StartDiscovery();
}

CHardwareSettingsPage::~CHardwareSettingsPage() = default;

void CHardwareSettingsPage::FillCombos() {
    for (int i = 0; i < CSettingsSheetModel::kInstrumentCount; ++i) {
        const auto instrument = static_cast<Instrument>(i);
        QComboBox* combo = m_combos[i];
        const QSignalBlocker block(combo);
        combo->clear();
        for (const auto& item : m_model.PortItems(instrument))
            combo->addItem(QString::fromStdWString(item.text), item.port);
        combo->setCurrentIndex(m_model.PortItemIndex(instrument));
        // The items arrive after the first show and grow by " (in use)"
        // while connected: the combo widens with them, so none is cut.
        combo->setMinimumWidth(std::max(kPortComboWidth, combo->sizeHint().width()));
    }
}

void CHardwareSettingsPage::OnPortPicked(Instrument instrument, int index) {
    const int port = m_combos[instrument]->itemData(index).toInt();
    const int before = m_model.Port(instrument);
    if (const auto refused = m_model.ChoosePort(instrument, port)) {
        FillCombos();  // back to the stored port before the box shows
        QMessageBox::warning(this, BoxTitle(), QString::fromStdWString(*refused));
        return;
    }
    FillCombos();
    if (m_model.Port(instrument) != before) emit Modified();
}

void CHardwareSettingsPage::StartDiscovery() {
    // Port scans and Auto Detect's tries would fight over the same ports.
    m_pAutoDetect->setEnabled(false);
    m_pAssign->setEnabled(false);
    m_scanner.Discover();
}

void CHardwareSettingsPage::FinishDiscovery(const std::vector<portdiscovery::PortInfo>& ports) {
    UsePresentPorts(ports);
    if (m_scanner.Discovering()) return;  // another listing was asked for meanwhile
    m_pAutoDetect->setEnabled(!m_connected);
    m_pAssign->setEnabled(!m_connected);
    emit PortsDiscovered();
}

void CHardwareSettingsPage::UsePresentPorts(const std::vector<portdiscovery::PortInfo>& ports) {
    std::vector<CSettingsSheetModel::PortItem> items;
    for (const auto& port : ports)
        items.push_back({port.number, QString::fromStdString(portdiscovery::ItemText(port)).toStdWString()});
    m_model.SetPresentPorts(std::move(items));
    FillCombos();
}

void CHardwareSettingsPage::StartAutoDetect() {
    if (!m_scanner.StartAutoDetect(m_model.Serial(CSettingsSheetModel::Head),
                                   m_model.Serial(CSettingsSheetModel::Supply),
                                   m_model.Serial(CSettingsSheetModel::Counter)))
        return;
    auto* progress = new CWorkerProgress(this);
    m_pProgress = progress;
    progress->setWindowTitle(QStringLiteral("Auto Detect"));
    progress->setLabelText(QStringLiteral("Looking for serial ports ..."));
    progress->setRange(0, 0);
    connect(progress, &QProgressDialog::canceled, this, [this] {
        m_scanner.CancelAutoDetect();
        if (m_pProgress) m_pProgress->setLabelText(QStringLiteral("Cancelling ..."));
    });
    progress->open();
}

void CHardwareSettingsPage::ShowDetectProgress(int done, int total, const QString& what) {
    if (!m_pProgress) return;
    m_pProgress->setLabelText(what);
    m_pProgress->setRange(0, total);
    // Last: a modal progress dialog handles events in setValue(), which may
    // end the detection under us.
    m_pProgress->setValue(done);
}

void CHardwareSettingsPage::FinishAutoDetect(const std::vector<portdiscovery::PortInfo>& ports,
                                             const autodetect::Ports& found, bool cancelled) {
    if (m_pProgress) {
        m_pProgress->hide();
        // Later: this may run inside the progress dialog's own setValue().
        m_pProgress->deleteLater();
        m_pProgress = nullptr;
    }
    // A cancelled scan may have stopped part way: keep the list we had.
    if (!cancelled) UsePresentPorts(ports);
    if (found.head > 0 || found.supply > 0 || found.counter > 0) {
        m_model.UseDetectedPorts({found.head, found.supply, found.counter});
        FillCombos();
        emit Modified();
    }
}

void CHardwareSettingsPage::RunAssign() {
    const auto devices = portassign::UnassignedDevices();
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Assign"));
    auto* list = new QListWidget;
    for (const auto& device : devices)
        list->addItem(QString::fromStdString(device.path + "  " + device.description));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Serial devices without a COM port:")));
    layout->addWidget(list);
    layout->addWidget(buttons);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(list, &QListWidget::currentRowChanged, ok, [ok](int row) { ok->setEnabled(row >= 0); });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return;

    const auto& device = devices[static_cast<size_t>(list->currentRow())];
    std::string error;
    if (!portassign::Assign(device.path, portassign::FirstFreeComNumber(), error))
        QMessageBox::warning(this, BoxTitle(), QString::fromStdString(error));
    StartDiscovery();
}

// ---- The sheet -------------------------------------------------------

CSettingsSheet::CSettingsSheet(CAppSettings& settings, bool connected, QWidget* parent)
    : QDialog(parent),
      m_model(settings, LogToApp),
      m_pList(new QListWidget),
      m_pStack(new QStackedWidget),
      m_pApplication(new CApplicationSettingsPage(m_model)),
      m_pHardware(new CHardwareSettingsPage(m_model, connected)),
      m_pButtons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                      QDialogButtonBox::Apply)) {
    // The sheet has no caption of its own: its page list says what it is.
    setWindowTitle(QString());
    m_pList->addItems({QStringLiteral("Application"), QStringLiteral("Hardware")});
    m_pList->setFixedWidth(100);
    m_pStack->addWidget(m_pApplication);
    m_pStack->addWidget(m_pHardware);
    connect(m_pList, &QListWidget::currentRowChanged, m_pStack, &QStackedWidget::setCurrentIndex);
    m_pList->setCurrentRow(0);

    auto* pages = new QHBoxLayout;
    pages->addWidget(m_pList);
    pages->addWidget(m_pStack, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pages);
    layout->addWidget(m_pButtons);

    connect(m_pApplication, &CApplicationSettingsPage::Modified, this, &CSettingsSheet::UpdateApply);
    connect(m_pHardware, &CHardwareSettingsPage::Modified, this, &CSettingsSheet::UpdateApply);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &CSettingsSheet::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &CSettingsSheet::reject);
    connect(ApplyButton(), &QPushButton::clicked, this, [this] {
        m_model.Apply();
        UpdateApply();
    });
    UpdateApply();
}

CSettingsSheet::~CSettingsSheet() {
    // Members go before the base deletes its children: the pages, which use
    // the model (and the hardware page joins its workers), go first.
    delete m_pHardware;
    delete m_pApplication;
}

QPushButton* CSettingsSheet::ApplyButton() const { return m_pButtons->button(QDialogButtonBox::Apply); }

void CSettingsSheet::accept() {
    m_model.Ok();
    QDialog::accept();
}

void CSettingsSheet::UpdateApply() { ApplyButton()->setEnabled(m_model.AnyModified()); }
