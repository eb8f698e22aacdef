// The calibration upload dialog.
#include "UploadCalibrationDataDlg.h"

#include "CalibrationTransfer.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A group box holding a check box over a path edit with its browse button.
QGroupBox* FileGroup(QCheckBox* check, QLineEdit* edit, QPushButton* browse) {
    auto* group = new QGroupBox;
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(check);
    layout->addLayout(row);
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    return group;
}

}  // namespace

CUploadCalibrationDataDlg::CUploadCalibrationDataDlg(void* head, QWidget* parent)
    : QDialog(parent),
      m_head(head),
      m_pApertureCheck(new QCheckBox(tr("Upload Aperture Data"))),
      m_pAperturePath(new QLineEdit),
      m_pApertureBrowse(new QPushButton(QStringLiteral("..."))),
      m_pSpectralCheck(new QCheckBox(tr("Upload Spectral Data"))),
      m_pSpectralPath(new QLineEdit),
      m_pSpectralBrowse(new QPushButton(QStringLiteral("..."))),
      m_pUpload(new QPushButton(tr("Upload"))),
      m_pCancel(new QPushButton(tr("Cancel"))),
      m_pDone(new QPushButton(tr("Done"))),
      m_pBar(new QProgressBar),
      m_pStatus(new QLabel) {
    setWindowTitle(tr("Upload Calibration Data"));
    m_pBar->setRange(0, 100);
    m_pBar->hide();
    // Enter must not start an upload or end the dialog by accident.
    for (QPushButton* button : {m_pApertureBrowse, m_pSpectralBrowse, m_pUpload, m_pCancel, m_pDone})
        button->setAutoDefault(false);

    connect(m_pApertureCheck, &QCheckBox::toggled, this, &CUploadCalibrationDataDlg::UpdateControls);
    connect(m_pSpectralCheck, &QCheckBox::toggled, this, &CUploadCalibrationDataDlg::UpdateControls);
    connect(m_pApertureBrowse, &QPushButton::clicked, this,
            [this] { Browse(m_pAperturePath, tr("Aperture Calibration Data")); });
    connect(m_pSpectralBrowse, &QPushButton::clicked, this,
            [this] { Browse(m_pSpectralPath, tr("Spectral Calibration Data")); });
    connect(m_pUpload, &QPushButton::clicked, this, &CUploadCalibrationDataDlg::StartUpload);
    connect(m_pCancel, &QPushButton::clicked, this, &CUploadCalibrationDataDlg::CancelUpload);
    connect(m_pDone, &QPushButton::clicked, this, &CUploadCalibrationDataDlg::accept);
    connect(&m_worker, &CWorker::Finished, this, [this](const QVariant& succeeded) { Finish(succeeded.toBool()); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pUpload);
    buttons->addWidget(m_pCancel);
    buttons->addWidget(m_pDone);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FileGroup(m_pApertureCheck, m_pAperturePath, m_pApertureBrowse));
    layout->addWidget(FileGroup(m_pSpectralCheck, m_pSpectralPath, m_pSpectralBrowse));
    layout->addWidget(m_pBar);
    layout->addWidget(m_pStatus);
    layout->addLayout(buttons);
    setMinimumWidth(460);
    UpdateControls();
}

CUploadCalibrationDataDlg::~CUploadCalibrationDataDlg() = default;

void CUploadCalibrationDataDlg::SetApertureChecked(bool checked) { m_pApertureCheck->setChecked(checked); }
void CUploadCalibrationDataDlg::SetSpectralChecked(bool checked) { m_pSpectralCheck->setChecked(checked); }
void CUploadCalibrationDataDlg::SetAperturePath(const QString& path) { m_pAperturePath->setText(path); }
void CUploadCalibrationDataDlg::SetSpectralPath(const QString& path) { m_pSpectralPath->setText(path); }

QString CUploadCalibrationDataDlg::StatusText() const { return m_pStatus->text(); }

void CUploadCalibrationDataDlg::Browse(QLineEdit* edit, const QString& title) {
    QFileDialog dialog(this, title, edit->text(), tr("CSV files (*.csv)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edit->setText(dialog.selectedFiles().front());
}

void CUploadCalibrationDataDlg::UpdateControls() {
    const bool running = Running();
    const bool aperture = m_pApertureCheck->isChecked(), spectral = m_pSpectralCheck->isChecked();
    m_pAperturePath->setEnabled(aperture);
    m_pApertureBrowse->setEnabled(aperture);
    m_pSpectralPath->setEnabled(spectral);
    m_pSpectralBrowse->setEnabled(spectral);
    m_pUpload->setEnabled((aperture || spectral) && !running);
    m_pCancel->setEnabled(running && !m_cancelling);
    m_pDone->setEnabled(!running);
}

void CUploadCalibrationDataDlg::StartUpload() {
    if (Running()) return;
    calibrationtransfer::UploadRequest request;
    request.aperture = m_pApertureCheck->isChecked();
    request.aperturePath = m_pAperturePath->text().toStdWString();
    request.spectral = m_pSpectralCheck->isChecked();
    request.spectralPath = m_pSpectralPath->text().toStdWString();
    if (!request.aperture && !request.spectral) return;

    m_cancelling = false;
    m_pBar->setValue(0);
    m_pBar->show();
    m_pStatus->clear();
    m_worker.Request([this, request] {
        return QVariant(calibrationtransfer::Upload(m_head, request, m_worker.AbortEvent(),
                                                    [this](const std::wstring& text, int percent) {
                                                        m_worker.Report([this, text, percent] { ShowStatus(text, percent); });
                                                    }));
    });
    UpdateControls();
}

void CUploadCalibrationDataDlg::CancelUpload() {
    if (!Running()) return;
    m_worker.Abort();
    m_cancelling = true;
    m_pStatus->setText(tr("Cancelling ..."));
    UpdateControls();
}

void CUploadCalibrationDataDlg::ShowStatus(const std::wstring& text, int percent) {
    // Reports already on their way must not hide that an abort is pending.
    if (m_cancelling) return;
    m_pStatus->setText(QString::fromStdWString(text));
    m_pBar->setValue(percent);
}

void CUploadCalibrationDataDlg::Finish(bool succeeded) {
    // An aborted upload may have left the head with part of a table, so it
    // counts as failed as well.
    if (!succeeded) m_failed = true;
    m_pStatus->setText(succeeded ? tr("Complete.") : tr("Error. See the log file for details."));
    m_pBar->setValue(100);
    m_cancelling = false;
    UpdateControls();
    if (m_closeWhenFinished) done(kClosed);
}

void CUploadCalibrationDataDlg::reject() {
    if (!Running()) {
        done(kClosed);
        return;
    }
    m_closeWhenFinished = true;
    CancelUpload();
}
