// Calibration table downloads and uploads on the dialogs' workers.
#include "CalibrationTransfer.h"

#include <QuorvexDll/QuorvexDll.h>
#include <platform/OwnedHandle.h>

#include <atomic>

namespace calibrationtransfer {

namespace {

// Waits for a started transfer to end. The library signals `done` however
// the transfer ends, so after an abort this still waits for the transfer's
// thread to let go of the events and the progress callable. True when the
// transfer ended without an abort.
bool AwaitTransfer(HANDLE abortEvent, HANDLE done) {
    if (!abortEvent) return WaitForSingleObject(done, INFINITE) == WAIT_OBJECT_0;
    const HANDLE handles[] = {abortEvent, done};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) return true;
    WaitForSingleObject(done, INFINITE);
    return false;
}

using StartDownload = QuorvexError (*)(void*, int, HANDLE, HANDLE);

bool DownloadTable(void* head, StartDownload start, HANDLE abortEvent, HANDLE done) {
    ResetEvent(done);
    if (start(head, 0, abortEvent, done) != QuorvexSuccess) return false;
    return AwaitTransfer(abortEvent, done);
}

using StartUpload = QuorvexError (*)(void*, const wchar_t*, HANDLE, HANDLE, QuorvexProgressCallback);

// True when the upload ran to its end: the library reports 100 percent only
// after the last value was acknowledged, and never when the file could not
// be read or a value was refused.
bool UploadTable(void* head, StartUpload start, const std::wstring& path, const std::wstring& text,
                 HANDLE abortEvent, HANDLE done, const Status& status) {
    ResetEvent(done);
    std::atomic<bool> full{false};
    const QuorvexError started =
        start(head, path.c_str(), abortEvent, done, [&](double percent) {
            if (percent >= 100.0) full = true;
            if (status) status(text, static_cast<int>(percent));
        });
    if (started != QuorvexSuccess) return false;
    return AwaitTransfer(abortEvent, done) && full;
}

}  // namespace

int Download(void* head, HANDLE abortEvent, const Status& status) {
    platform::COwnedHandle done = platform::COwnedHandle::NewEvent();
    if (!done) return kAborted;
    if (status) status(L"Downloading aperture calibration data ...", 0);
    if (!DownloadTable(head, Quorvex_DownloadApertureCalibrationData, abortEvent, done.Get()))
        return kAborted;
    if (status) status(L"Downloading spectral calibration data ...", 25);
    if (!DownloadTable(head, Quorvex_DownloadSpectralCalibrationData, abortEvent, done.Get()))
        return kAborted;
    if (status) status(L"Complete.", 100);
    return kCompleted;
}

bool Upload(void* head, const UploadRequest& request, HANDLE abortEvent, const Status& status) {
    platform::COwnedHandle done = platform::COwnedHandle::NewEvent();
    if (!done) return false;
    if (request.aperture &&
        !UploadTable(head, Quorvex_UploadApertureCalibrationData_ProgressCallback, request.aperturePath,
                     L"Uploading aperture calibration data ...", abortEvent, done.Get(), status))
        return false;
    if (request.spectral &&
        !UploadTable(head, Quorvex_UploadSpectralCalibrationData_ProgressCallback, request.spectralPath,
                     L"Uploading spectral calibration data ...", abortEvent, done.Get(), status))
        return false;
    if (status) status(L"Complete.", 100);
    return true;
}

}  // namespace calibrationtransfer
