// Running the sequences' dialogs on the GUI thread.
#include "ProgramDialogHost.h"

#include <QEventLoop>
#include <QPixmapCache>

#include "DownloadCalibrationDataDlg.h"
#include "LampRampDlg.h"
#include "UploadCalibrationDataDlg.h"

CProgramDialogHost::CProgramDialogHost(QWidget* dialogParent) : m_pParent(dialogParent) {}

template <typename Show>
int CProgramDialogHost::OnGuiThread(Show show) {
    int result = kCancel;
    QMetaObject::invokeMethod(this, [&] { result = show(m_pParent.data()); }, Qt::BlockingQueuedConnection);
    return result;
}

int CProgramDialogHost::RunLampRamp(int direction, void* supply) {
    return OnGuiThread([&](QWidget* parent) {
        CLampRampDlg dialog(direction, supply, parent);
        m_pCurrent = &dialog;
        // Not modal: a window blocked by a modal dialog never hears of its
        // own close, and a close during a ramp must cut a ramp-up short.
        // The window's commands are disabled while the ramp's sequence runs.
        QEventLoop loop;
        QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::exit);
        dialog.show();
        return loop.exec(QEventLoop::DialogExec);
    });
}

int CProgramDialogHost::RunDownload(void* head) {
    return OnGuiThread([&](QWidget* parent) {
        CDownloadCalibrationDataDlg dialog(head, parent);
        m_pCurrent = &dialog;
        const int result = dialog.exec();
        // The style draws the busy bar's moving frames into Qt's shared
        // pixmap cache, which keeps them up to its 10 MB limit: each
        // download would leave some 10 kB there that is never drawn again.
        QPixmapCache::clear();
        return result;
    });
}

int CProgramDialogHost::RunUpload(void* head) {
    return OnGuiThread([&](QWidget* parent) {
        CUploadCalibrationDataDlg dialog(head, parent);
        m_pCurrent = &dialog;
        const int result = dialog.exec();
        if (!dialog.Succeeded()) emit UploadFailed();
        return result;
    });
}

void CProgramDialogHost::AbortDialog() {
    // Each dialog's reject is its Cancel: it asks the worker to stop and
    // closes once the worker has reported.
    if (m_pCurrent) m_pCurrent->reject();
}
