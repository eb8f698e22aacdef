// What the connection sequences need of the user: the dialogs that run
// while a sequence waits for them (the lamp ramp, the calibration download
// and upload). The program's host shows them on the GUI thread; tests run
// the same work headless.
//
// Threads: the Run methods are called on the connection worker and return
// only when the dialog has ended; the host must never wait for that worker.
// AbortDialog is called on the controller's thread (the GUI thread).
#pragma once

class IDialogHost {
public:
    // Dialog results, as the dialogs end.
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    virtual ~IDialogHost() = default;

    // direction 0 ramps the lamp up, 1 down; `supply` is the supply's handle.
    virtual int RunLampRamp(int direction, void* supply) = 0;
    // Downloads both tables into the head library's copies.
    virtual int RunDownload(void* head) = 0;
    // Lets the operator upload calibration files to the head.
    virtual int RunUpload(void* head) = 0;
    // An instrument was lost, or the window is closing: the dialog running
    // now, if any, ends as its Cancel ends it (a ramp-down runs on to its
    // end).
    virtual void AbortDialog() {}
};
