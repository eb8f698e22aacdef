// The lamp ramp dialog.
#include "LampRampDlg.h"

#include "LampRamp.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CLampRampDlg::CLampRampDlg(int rampDown, void* supply, QWidget* parent)
    : QDialog(parent),
      m_direction(rampDown ? lampramp::kDown : lampramp::kUp),
      m_supply(supply),
      m_pStatus(new QLabel(rampDown ? tr("Ramping down the lamp ...") : tr("Ramping up the lamp ..."))),
      m_pBar(new QProgressBar),
      m_pCancel(new QPushButton(tr("Cancel"))) {
    setWindowTitle(tr("Ramping ..."));
    m_pBar->setRange(0, 100);
    m_pBar->setValue(rampDown ? 100 : 0);
    m_pCancel->setEnabled(!rampDown);
    connect(m_pCancel, &QPushButton::clicked, this, &CLampRampDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pStatus);
    layout->addWidget(m_pBar);
    layout->addLayout(buttons);
    setMinimumWidth(360);
}

CLampRampDlg::~CLampRampDlg() = default;

int CLampRampDlg::Position() const { return m_pBar->value(); }

QString CLampRampDlg::StatusText() const { return m_pStatus->text(); }

void CLampRampDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_started) Start();
}

void CLampRampDlg::Start() {
    m_started = true;
    connect(&m_worker, &CWorker::Finished, this, [this](const QVariant& result) { done(result.toInt()); });
    m_worker.Request([this] {
        return QVariant(lampramp::Run(
            m_supply, m_direction, m_worker.AbortEvent(),
            [this](int position) { m_worker.Report([this, position] { m_pBar->setValue(position); }); },
            m_seconds));
    });
}

void CLampRampDlg::reject() {
    if (!m_worker.Busy() || m_direction == lampramp::kDown) return;
    m_worker.Abort();
    m_pStatus->setText(tr("Cancelling ..."));
    m_pCancel->setEnabled(false);
}
