// The library's process-wide state: its log (declared with CQuorvex), the
// connected head units (the handles the exports accept) and the threads that
// close ports for disconnects that do not wait.
#pragma once

#include "Quorvex.h"

#include <serial/DeviceList.h>
#include <serial/WorkerThreads.h>

class CQuorvexLibrary {
public:
    CQuorvexLibrary() = default;
    // At unload: the closing threads are joined and what is still connected
    // is shut down, so no thread of the library outlives it.
    ~CQuorvexLibrary();
    CQuorvexLibrary(const CQuorvexLibrary&) = delete;
    CQuorvexLibrary& operator=(const CQuorvexLibrary&) = delete;

    CDeviceList<CQuorvex> devices;
    CWorkerThreads closingThreads;
};

extern CQuorvexLibrary g_library;
