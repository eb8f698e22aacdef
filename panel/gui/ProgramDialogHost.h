// The program's dialogs for the connection sequences: each request from the
// connection worker is carried to the GUI thread, where the dialog runs
// over the main window, and the worker waits for its result. The download
// and upload dialogs are modal; the ramp dialog leaves the window able to
// hear its own close, which cuts a ramp-up short.
//
// Ownership and threads: owned by the main window and living on the GUI
// thread; the IDialogHost methods are called on the connection worker
// only. The GUI thread never waits for that worker, so the blocking hand-over
// cannot deadlock; the main window keeps this host until no sequence runs.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "DialogHost.h"

class CProgramDialogHost : public QObject, public IDialogHost {
    Q_OBJECT
public:
    explicit CProgramDialogHost(QWidget* dialogParent);

    int RunLampRamp(int direction, void* supply) override;
    int RunDownload(void* head) override;
    int RunUpload(void* head) override;
    void AbortDialog() override;

signals:
    // An upload in the dialog ended short (GUI thread).
    void UploadFailed();

private:
    template <typename Show>
    int OnGuiThread(Show show);

    QPointer<QWidget> m_pParent;
    // The dialog a sequence runs now (GUI thread).
    QPointer<QDialog> m_pCurrent;
};
