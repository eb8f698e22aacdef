// The library's process-wide state: its log, the list of connected head
// units (the handles the exports accept) and the threads that close ports
// for disconnects that do not wait.
#pragma once

#include "Quorvex.h"
#include <serial/WorkerThreads.h>

#include <functional>
#include <list>
#include <memory>
#include <mutex>

class CDeviceList {
public:
    CDeviceList() = default;
    // Joins the closing threads and closes what is still connected, so no
    // thread of the library outlives it.
    ~CDeviceList();
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    void Add(std::shared_ptr<CQuorvex> device);
    // The listed device whose address is `handle`; the reference keeps it
    // alive for the caller even if another thread disconnects it meanwhile.
    std::shared_ptr<CQuorvex> Find(const void* handle) const;
    // Takes the device out of the list; null when it is not listed.
    std::shared_ptr<CQuorvex> Remove(const void* handle);
    // Runs `action` on every listed device with the list locked.
    void ForEach(const std::function<void(CQuorvex&)>& action) const;

    // Runs `work` on a closing thread owned by the list.
    bool StartClosingThread(std::function<void()> work);

private:
    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<CQuorvex>> m_devices;
    CWorkerThreads m_closingThreads;
};

extern CDeviceList g_devices;
