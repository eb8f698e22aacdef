// The "Upload Calibration Data" dialog: the operator ticks the tables to
// upload and picks their files, and each Upload sends them to the head on a
// worker while the dialog shows how far it got and whether it worked.
// Done ends it with 1; Escape or the close box with 2.
//
// Ownership and threads: created, shown and destroyed on the GUI thread. It
// owns its worker (one upload at a time); the worker talks back only
// through queued calls. Closing while an upload runs aborts it, and the
// dialog ends only once the worker has returned (a dialog destroyed earlier
// aborts and joins it). The head's handle must stay valid until the dialog
// has ended.
#pragma once

#include <string>

#include <QDialog>

#include "Worker.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CUploadCalibrationDataDlg : public QDialog {
    Q_OBJECT
public:
    // The result of Escape and the close box (IDCANCEL), which the main
    // window answers by disconnecting; Done gives 1.
    static constexpr int kClosed = 2;

    explicit CUploadCalibrationDataDlg(void* head, QWidget* parent = nullptr);
    ~CUploadCalibrationDataDlg() override;

    // False once an upload in this dialog failed or was aborted.
    bool Succeeded() const { return !m_failed; }
    bool Running() const { return m_worker.Busy(); }

    void SetApertureChecked(bool checked);
    void SetSpectralChecked(bool checked);
    void SetAperturePath(const QString& path);
    void SetSpectralPath(const QString& path);

    QLineEdit* ApertureEdit() const { return m_pAperturePath; }
    QLineEdit* SpectralEdit() const { return m_pSpectralPath; }
    QPushButton* UploadButton() const { return m_pUpload; }
    QPushButton* CancelButton() const { return m_pCancel; }
    QPushButton* DoneButton() const { return m_pDone; }
    QProgressBar* Bar() const { return m_pBar; }
    QString StatusText() const;

    // Escape and the close box: end with 2, aborting a running upload first.
    void reject() override;

private:
    void Browse(QLineEdit* edit, const QString& title);
    void UpdateControls();
    void StartUpload();
    void CancelUpload();
    void ShowStatus(const std::wstring& text, int percent);
    void Finish(bool succeeded);

    void* const m_head;
    // GUI thread only.
    bool m_failed = false;
    bool m_cancelling = false;
    bool m_closeWhenFinished = false;
    QCheckBox* m_pApertureCheck;
    QLineEdit* m_pAperturePath;
    QPushButton* m_pApertureBrowse;
    QCheckBox* m_pSpectralCheck;
    QLineEdit* m_pSpectralPath;
    QPushButton* m_pSpectralBrowse;
    QPushButton* m_pUpload;
    QPushButton* m_pCancel;
    QPushButton* m_pDone;
    QProgressBar* m_pBar;
    QLabel* m_pStatus;
    CWorker m_worker;  // last: its job ends before the widgets go
};
