// The calibration table transfers the download and upload dialogs run: both
// tables from the head into the head library's copies, or the operator's
// files to the head, each reporting what it is doing and how far it got.
//
// Ownership and threads: Download and Upload are called on a worker the
// caller owns and return once every transfer they started has ended (an
// abort included), so nothing of theirs runs afterwards. The status callable
// runs on the calling thread and, during an upload, on QuorvexDll's transfer
// thread; never on both at once. `abortEvent` must be a manual-reset event
// (or null): the transfer watches it as well as the caller.
#pragma once

#include <platform/win32.h>

#include <functional>
#include <string>

namespace calibrationtransfer {

// Results of Download, as the dialog ends.
constexpr int kCompleted = 1;
constexpr int kAborted = 2;

using Status = std::function<void(const std::wstring& text, int percent)>;

// Downloads the aperture table, then the spectral one. kAborted when a
// download did not start or the abort came first; a reply the library could
// not use still completes (the library keeps its old table and logs why).
int Download(void* head, HANDLE abortEvent, const Status& status);

struct UploadRequest {
    bool aperture = false;
    std::wstring aperturePath;
    bool spectral = false;
    std::wstring spectralPath;
};

// Uploads the ticked tables, aperture first. True only when every ticked
// table went over in full; a file that cannot be read, a refused value, a
// transfer that did not start or an abort make it false and stop what
// would follow.
bool Upload(void* head, const UploadRequest& request, HANDLE abortEvent, const Status& status);

}  // namespace calibrationtransfer
