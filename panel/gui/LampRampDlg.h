// The "Ramping ..." dialog: ramps the lamp up or down on a worker while it
// shows the ramp's progress, and ends with the ramp's result (1 completed,
// 2 aborted or refused).
//
// Ownership and threads: created, shown and destroyed on the GUI thread. It
// owns its worker, started when the dialog is first shown; the worker talks
// back only through queued calls, and the dialog ends only after the worker
// has returned (the destructor of a dialog still ramping aborts the ramp and
// joins the worker). The supply's handle must stay valid until the dialog
// has ended.
#pragma once

#include <QDialog>

#include "Worker.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CLampRampDlg : public QDialog {
    Q_OBJECT
public:
    // rampDown: 0 ramps up, 1 down.
    CLampRampDlg(int rampDown, void* supply, QWidget* parent = nullptr);
    ~CLampRampDlg() override;

    // The ramp's duration; 0 (the default) takes the ramp's fixed one.
    void SetSeconds(int seconds) { m_seconds = seconds; }
    QProgressBar* Bar() const { return m_pBar; }
    int Position() const;
    QString StatusText() const;
    QPushButton* CancelButton() const { return m_pCancel; }

    // Cancel, Escape and the close box: ask the ramp to stop. A ramp-down
    // cannot be stopped, as the lamp must not be left half lit.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Start();

    const int m_direction;
    void* const m_supply;
    int m_seconds = 0;
    bool m_started = false;
    QLabel* m_pStatus;
    QProgressBar* m_pBar;
    QPushButton* m_pCancel;
    CWorker m_worker;  // last: its job ends before the widgets go
};
