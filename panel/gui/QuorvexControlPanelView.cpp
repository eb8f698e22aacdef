// The main view: its children, the picking, the aperture list and the move.
#include "QuorvexControlPanelView.h"

#include <QKeyEvent>
#include <QPainter>

#include "ApertureItems.h"
#include "ApertureListBox.h"
#include "DisplayUnits.h"
#include "DriverResults.h"
#include "FrameHost.h"
#include "InstrumentHandles.h"
#include "ItemHeaderCtrl.h"
#include "LogoDisplay.h"
#include "LookColours.h"
#include "QuorvexDll/QuorvexDll.h"
#include "SpectralPlot.h"
#include "WavelengthDisplay.h"
#include "layout/DialogLayoutManager.h"
#include "serial/DriverLog.h"

namespace {

// " (the head unit did not answer)": the code's meaning after the number, so
// the log reads as the error bar and quorvexctl do.
std::wstring Explained(const char* text) {
    if (!text || !*text) return {};
    return L" (" + std::wstring(text, text + std::char_traits<char>::length(text)) + L")";
}
constexpr QRgb kPlotFrame = 0xFF828790;
}

CQuorvexControlPanelView::Services CQuorvexControlPanelView::ApplicationServices(IFrameHost& host) {
    Services services;
    services.calibration = &host.Calibration();
    services.settings = &host.Settings();
    services.head = [] { return g_hQuorvex.load(); };
    services.move = [](void* head, int primary, int secondary) {
        return static_cast<int>(Quorvex_SetPosition(head, static_cast<unsigned>(primary),
                                                    static_cast<unsigned>(secondary), 1, nullptr));
    };
    services.log = [&host](int severity, const std::wstring& message) { host.Log(severity, message); };
    return services;
}

CQuorvexControlPanelView::CQuorvexControlPanelView(Services services, QWidget* parent)
    : QWidget(parent),
      m_services(std::move(services)),
      m_pLogo(new CLogoDisplay(this)),
      m_pWavelengthHeader(new CItemHeaderCtrl(QStringLiteral("Selected Wavelength"), this)),
      m_pWavelengthDisplay(new CWavelengthDisplay(this)),
      m_pApertureHeader(new CItemHeaderCtrl(QStringLiteral("Aperture Selection"), this)),
      m_pApertureList(new CApertureListBox(this)),
      m_pPlot(new CSpectralPlot(this)),
      m_pLayout(new CDialogLayoutManager(this)),
      m_mover(m_services.move) {
    resize(kWidth, kHeight);
    m_pLogo->setGeometry(15, 15, 200, 100);
    m_pWavelengthHeader->setGeometry(15, 130, 200, 30);
    m_pWavelengthDisplay->setGeometry(15, 160, 200, 50);
    m_pApertureHeader->setGeometry(15, 225, 200, 30);
    m_pApertureList->setGeometry(15, 255, 200, 300);
    m_pPlot->SetFrameColor(kPlotFrame);
    m_pPlot->setGeometry(230, 15, 700, 540);
    ApplyLook();
    m_pPlot->LoadData(m_services.calibration->m_spectralData);
    m_pWavelengthDisplay->SetTableEmpty(m_services.calibration->m_spectralData.empty());
    FillApertureList();
    m_pLayout->Add(m_pApertureList, layout::AnchorLeft | layout::AnchorTop | layout::AnchorBottom);
    m_pLayout->Add(m_pPlot, layout::AnchorLeft | layout::AnchorTop | layout::AnchorRight |
                                layout::AnchorBottom);

    connect(m_pPlot, &CSpectralPlot::SelectionChanged, this,
            &CQuorvexControlPanelView::OnWavelengthPicked);
    connect(m_pApertureList, &CApertureListBox::StepWavelength, m_pPlot, &CSpectralPlot::StepSelection);
    connect(m_pApertureList, &QListWidget::currentRowChanged, this,
            &CQuorvexControlPanelView::OnApertureChosen);
    connect(&m_mover, &CApertureMover::Finished, this, &CQuorvexControlPanelView::OnMoveDone);
    UpdateListEnabled();
}

// The mover member waits for a move in flight before the widgets go.
CQuorvexControlPanelView::~CQuorvexControlPanelView() = default;

void CQuorvexControlPanelView::ApplyLook() {
    const CAppSettings& settings = *m_services.settings;
    m_pWavelengthHeader->SetLook(settings.m_nAppStyle);
    m_pApertureHeader->SetLook(settings.m_nAppStyle);
    m_pWavelengthDisplay->SetUnit(settings.m_nWavelengthDisplayUnits);
    m_pPlot->SetDisplayUnits(settings.m_nWavelengthDisplayUnits, settings.m_nYAxisDisplayUnits);
    UpdateListContent();
    update();
}

void CQuorvexControlPanelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgba(lookcolours::ViewBackground(m_services.settings->m_nAppStyle)));
}

void CQuorvexControlPanelView::keyPressEvent(QKeyEvent* event) {
    // The arrows always step through wavelengths, whichever child has focus.
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        m_pPlot->StepSelection(event->key() == Qt::Key_Left ? -1 : +1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CQuorvexControlPanelView::FillApertureList() {
    m_apertureEntries = apertureitems::ListOrder(m_services.calibration->m_apertureData);
    m_pApertureList->SetEntries(m_apertureEntries);
    UpdateListContent();
}

void CQuorvexControlPanelView::UpdateListContent() {
    const CCalibrationData& calibration = *m_services.calibration;
    const CAppSettings& settings = *m_services.settings;
    CApertureListBox::Content content;
    content.stored = calibration.m_apertureData;
    content.showPositions = settings.m_nShowAperturePositions != 0;
    if (m_nPickedIndex >= 0 && m_nPickedIndex < static_cast<int>(calibration.m_spectralData.size())) {
        const CSpectralData& point = calibration.m_spectralData[m_nPickedIndex];
        content.pickedRadiance = displayunits::ConvertRadiance(point.m_dRadiance, point.m_dWavelength,
                                                               settings.m_nYAxisDisplayUnits);
    }
    m_pApertureList->SetContent(std::move(content));
}

void CQuorvexControlPanelView::OnWavelengthPicked(int index) {
    const auto& table = m_services.calibration->m_spectralData;
    m_nPickedIndex = index < static_cast<int>(table.size()) ? index : -1;
    m_pWavelengthDisplay->SetWavelength(m_nPickedIndex >= 0 ? table[m_nPickedIndex].m_dWavelength : -1.0);
    UpdateListContent();
    m_pWavelengthDisplay->repaint();
    m_pApertureList->viewport()->repaint();
}

void CQuorvexControlPanelView::OnSettingsChanged() { ApplyLook(); }

void CQuorvexControlPanelView::OnHeadPosition(int primary, int secondary) {
    m_nHeadPositionIndex = -1;
    for (std::size_t i = 0; i < m_apertureEntries.size(); ++i)
        if (m_apertureEntries[i].m_nPrimaryPosition == primary &&
            m_apertureEntries[i].m_nSecondaryPosition == secondary)
            m_nHeadPositionIndex = static_cast<int>(i);
    SelectRowQuietly(m_pApertureList->RowOf(primary, secondary));
}

void CQuorvexControlPanelView::OnCalibrationReplaced() {
    const auto& table = m_services.calibration->m_spectralData;
    m_pPlot->LoadData(table);
    // The plot keeps its pick within a shorter table; the view follows it.
    m_nPickedIndex = m_pPlot->SelectedIndex();
    m_pWavelengthDisplay->SetTableEmpty(table.empty());
    m_pWavelengthDisplay->SetWavelength(m_nPickedIndex >= 0 ? table[m_nPickedIndex].m_dWavelength : -1.0);
    FillApertureList();
    m_nHeadPositionIndex = -1;
    update();
}

void CQuorvexControlPanelView::SelectRowQuietly(int row) {
    const QSignalBlocker blocker(m_pApertureList);
    m_pApertureList->setCurrentRow(row);
    if (row < 0) m_pApertureList->clearSelection();
    m_pApertureList->viewport()->update();
}

void CQuorvexControlPanelView::OnApertureChosen(int row) {
    if (row < 0 || row >= static_cast<int>(m_apertureEntries.size()) || m_mover.Busy()) return;
    const CApertureData& entry = m_apertureEntries[row];
    m_mover.Start(m_services.head(), entry.m_nPrimaryPosition, entry.m_nSecondaryPosition);
    m_pApertureList->viewport()->setCursor(Qt::WaitCursor);
    UpdateListEnabled();
}

void CQuorvexControlPanelView::OnMoveDone(int error, int primary, int secondary) {
    m_pApertureList->viewport()->setCursor(Qt::PointingHandCursor);
    if (error == QuorvexSuccess) {
        // The wheels are where the operator chose; a later failed move
        // returns the list here.
        m_nHeadPositionIndex = -1;
        for (std::size_t i = 0; i < m_apertureEntries.size(); ++i)
            if (m_apertureEntries[i].m_nPrimaryPosition == primary &&
                m_apertureEntries[i].m_nSecondaryPosition == secondary)
                m_nHeadPositionIndex = static_cast<int>(i);
    } else {
        m_services.log(driverlog::Error,
                       L"Moving the apertures to position (" + std::to_wstring(primary + 1) + L"," +
                           std::to_wstring(secondary + 1) + L") failed with error " +
                           std::to_wstring(error) + Explained(driverresults::Head(error).text));
        const int row = m_nHeadPositionIndex >= 0
                            ? m_pApertureList->RowOf(m_apertureEntries[m_nHeadPositionIndex].m_nPrimaryPosition,
                                                     m_apertureEntries[m_nHeadPositionIndex].m_nSecondaryPosition)
                            : -1;
        SelectRowQuietly(row);
    }
    UpdateListEnabled();
    emit MoveFinished(error);
}

void CQuorvexControlPanelView::SetConnected(bool connected) {
    m_bConnected = connected;
    UpdateListEnabled();
}

void CQuorvexControlPanelView::UpdateListEnabled() {
    const bool enable = m_bConnected && !m_mover.Busy();
    // A list disabled while it has the focus hands it on to the window's
    // next widget (a ribbon button), where the arrows no longer reach the
    // view: the plot holds the focus meanwhile and gives it back.
    if (!enable && m_pApertureList->hasFocus()) {
        m_pPlot->setFocus(Qt::OtherFocusReason);
        m_bListFocusParked = true;
    }
    m_pApertureList->setEnabled(enable);
    if (enable && m_bListFocusParked) {
        m_bListFocusParked = false;
        if (m_pPlot->hasFocus()) m_pApertureList->setFocus(Qt::OtherFocusReason);
    }
}
