// The calibration download dialog.
#include "DownloadCalibrationDataDlg.h"

#include "CalibrationTransfer.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CDownloadCalibrationDataDlg::CDownloadCalibrationDataDlg(void* head, QWidget* parent)
    : QDialog(parent),
      m_head(head),
      m_pStatus(new QLabel),
      m_pBusy(new QProgressBar),
      m_pOverall(new QProgressBar),
      m_pCancel(new QPushButton(tr("Cancel"))) {
    setWindowTitle(tr("Downloading Calibration Data ..."));
    auto* intro = new QLabel(
        tr("Downloading calibration data from the Quorvex. This will take a few minutes to complete."));
    intro->setAlignment(Qt::AlignCenter);
    intro->setWordWrap(true);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    // A range of 0..0 makes the bar a marquee: the head tells nothing of
    // how far a single download has got.
    m_pBusy->setRange(0, 0);
    m_pOverall->setRange(0, 100);
    m_pOverall->setValue(0);
    connect(m_pCancel, &QPushButton::clicked, this, &CDownloadCalibrationDataDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(line);
    layout->addWidget(m_pStatus);
    layout->addWidget(m_pBusy);
    layout->addWidget(new QLabel(tr("Overall Progress")));
    layout->addWidget(m_pOverall);
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

CDownloadCalibrationDataDlg::~CDownloadCalibrationDataDlg() = default;

int CDownloadCalibrationDataDlg::OverallPosition() const { return m_pOverall->value(); }

QString CDownloadCalibrationDataDlg::StatusText() const { return m_pStatus->text(); }

void CDownloadCalibrationDataDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_started) Start();
}

void CDownloadCalibrationDataDlg::Start() {
    m_started = true;
    connect(&m_worker, &CWorker::Finished, this, [this](const QVariant& result) { done(result.toInt()); });
    m_worker.Request([this] {
        return QVariant(calibrationtransfer::Download(
            m_head, m_worker.AbortEvent(), [this](const std::wstring& text, int percent) {
                m_worker.Report([this, text, percent] { ShowStatus(text, percent); });
            }));
    });
}

void CDownloadCalibrationDataDlg::ShowStatus(const std::wstring& text, int percent) {
    // Reports already on their way must not hide that an abort is pending.
    if (m_cancelling) return;
    m_pStatus->setText(QString::fromStdWString(text));
    m_pOverall->setValue(percent);
}

void CDownloadCalibrationDataDlg::reject() {
    if (!m_worker.Busy()) return;
    m_worker.Abort();
    m_cancelling = true;
    m_pStatus->setText(tr("Cancelling ..."));
    m_pCancel->setEnabled(false);
}
