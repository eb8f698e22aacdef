// The library's list of connected devices (see DeviceList.h).
#include "DeviceList.h"

#include "ElapsedTimeCounter.h"

#include <algorithm>

void CDeviceList::Add(Device device) {
    std::lock_guard lock(m_mutex);
    m_devices.push_back(std::move(device));
}

CDeviceList::Device CDeviceList::Find(const void* handle) const {
    if (!handle) return nullptr;
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&](const Device& device) { return device.get() == handle; });
    return it == m_devices.end() ? nullptr : *it;
}

CDeviceList::Device CDeviceList::Remove(const void* handle) {
    if (!handle) return nullptr;
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&](const Device& device) { return device.get() == handle; });
    if (it == m_devices.end()) return nullptr;
    Device device = std::move(*it);
    m_devices.erase(it);
    return device;
}

std::vector<CDeviceList::Device> CDeviceList::All() const {
    std::lock_guard lock(m_mutex);
    return m_devices;
}
