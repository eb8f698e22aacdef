// The library's process-wide state (see DeviceList.h). The log is defined
// before the list so that it outlives the devices the list still closes at
// unload.
#include "DeviceList.h"

#include <algorithm>

driverlog::CLibraryLog g_log{"CQuorvex"};
CDeviceList g_devices;

CDeviceList::~CDeviceList() {
    m_closingThreads.StopAndJoin();
    std::list<std::shared_ptr<CQuorvex>> devices;
    {
        std::lock_guard lock(m_mutex);
        devices.swap(m_devices);
    }
    for (auto& device : devices) device->Shutdown();
}

void CDeviceList::Add(std::shared_ptr<CQuorvex> device) {
    std::lock_guard lock(m_mutex);
    m_devices.push_back(std::move(device));
}

std::shared_ptr<CQuorvex> CDeviceList::Find(const void* handle) const {
    if (!handle) return nullptr;
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [handle](const auto& device) { return device.get() == handle; });
    return it == m_devices.end() ? nullptr : *it;
}

std::shared_ptr<CQuorvex> CDeviceList::Remove(const void* handle) {
    if (!handle) return nullptr;
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [handle](const auto& device) { return device.get() == handle; });
    if (it == m_devices.end()) return nullptr;
    std::shared_ptr<CQuorvex> device = std::move(*it);
    m_devices.erase(it);
    return device;
}

void CDeviceList::ForEach(const std::function<void(CQuorvex&)>& action) const {
    std::lock_guard lock(m_mutex);
    for (const auto& device : m_devices) action(*device);
}

bool CDeviceList::StartClosingThread(std::function<void()> work) {
    return m_closingThreads.Start(std::move(work));
}
