// The library's device list (see DeviceList.h).
#include "DeviceList.h"

#include "AgilentE3633A.h"

#include <algorithm>

namespace psudll {

CDeviceList::~CDeviceList() {
    std::vector<std::shared_ptr<CAgilentE3633A>> devices, retired;
    {
        std::lock_guard lock(m_mutex);
        devices.swap(m_devices);
        retired.swap(m_retired);
    }
    // Destroyed here, outside the lock: a destructor may wait for threads.
}

void CDeviceList::Add(std::shared_ptr<CAgilentE3633A> device) {
    std::vector<std::shared_ptr<CAgilentE3633A>> closed;
    std::lock_guard lock(m_mutex);
    closed = TakeClosed();
    m_devices.push_back(std::move(device));
}

std::shared_ptr<CAgilentE3633A> CDeviceList::Find(const void* handle) const {
    if (!handle) return nullptr;
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&](const auto& device) { return device.get() == handle; });
    return it == m_devices.end() ? nullptr : *it;
}

std::shared_ptr<CAgilentE3633A> CDeviceList::Remove(const void* handle) {
    if (!handle) return nullptr;
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&](const auto& device) { return device.get() == handle; });
    if (it == m_devices.end()) return nullptr;
    auto device = std::move(*it);
    m_devices.erase(it);
    return device;
}

void CDeviceList::Retire(std::shared_ptr<CAgilentE3633A> device) {
    std::vector<std::shared_ptr<CAgilentE3633A>> closed;
    std::lock_guard lock(m_mutex);
    closed = TakeClosed();
    m_retired.push_back(std::move(device));
}

std::vector<std::shared_ptr<CAgilentE3633A>> CDeviceList::TakeClosed() {
    std::vector<std::shared_ptr<CAgilentE3633A>> closed;
    const auto firstOpen = std::stable_partition(m_retired.begin(), m_retired.end(),
                                                 [](const auto& device) { return device->IsClosed(); });
    std::move(m_retired.begin(), firstOpen, std::back_inserter(closed));
    m_retired.erase(m_retired.begin(), firstOpen);
    return closed;
}

}  // namespace psudll
