// The "Downloading Calibration Data ..." dialog: downloads both calibration
// tables from the head on a worker, shows which one is on its way, and ends
// with the download's result (1 completed, 2 aborted).
//
// Ownership and threads: created, shown and destroyed on the GUI thread. It
// owns its worker, started when the dialog is first shown; the worker talks
// back only through queued calls, and the dialog ends only after the worker
// has returned (a dialog destroyed earlier aborts and joins it). The head's
// handle must stay valid until the dialog has ended.
#pragma once

#include <string>

#include <QDialog>

#include "Worker.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CDownloadCalibrationDataDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDownloadCalibrationDataDlg(void* head, QWidget* parent = nullptr);
    ~CDownloadCalibrationDataDlg() override;

    int OverallPosition() const;
    QString StatusText() const;
    QPushButton* CancelButton() const { return m_pCancel; }
    // True from the start of the worker until its result has arrived.
    bool Running() const { return m_worker.Busy(); }

    // Cancel, Escape and the close box: ask the download to stop; the
    // dialog closes when the worker reports.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Start();
    void ShowStatus(const std::wstring& text, int percent);

    void* const m_head;
    bool m_started = false;
    bool m_cancelling = false;
    QLabel* m_pStatus;
    QProgressBar* m_pBusy;
    QProgressBar* m_pOverall;
    QPushButton* m_pCancel;
    CWorker m_worker;  // last: its job ends before the widgets go
};
