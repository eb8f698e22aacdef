// The device objects a driver library has handed out as handles, in
// connection order. Every export that takes a handle looks it up here; the
// reference it gets keeps the device alive for the length of its call, so a
// disconnect on another thread never destroys a device under it.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

template <typename Device>
class CDeviceList {
public:
    using Ptr = std::shared_ptr<Device>;

    CDeviceList() = default;
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    void Add(Ptr device) {
        std::lock_guard lock(m_mutex);
        m_devices.push_back(std::move(device));
    }

    // The first listed device whose address is `handle`, or null.
    Ptr Find(const void* handle) const {
        if (!handle) return nullptr;
        std::lock_guard lock(m_mutex);
        const auto it = Locate(handle);
        return it == m_devices.end() ? nullptr : *it;
    }

    // Unlists the first device whose address is `handle` and hands it over;
    // null when it was not listed.
    Ptr Remove(const void* handle) {
        if (!handle) return nullptr;
        std::lock_guard lock(m_mutex);
        const auto it = Locate(handle);
        if (it == m_devices.end()) return nullptr;
        Ptr device = std::move(*it);
        m_devices.erase(it);
        return device;
    }

    // The listed devices, in connection order.
    std::vector<Ptr> Snapshot() const {
        std::lock_guard lock(m_mutex);
        return m_devices;
    }

    // Unlists everything (the library is being unloaded).
    std::vector<Ptr> TakeAll() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_devices, {});
    }

private:
    typename std::vector<Ptr>::const_iterator Locate(const void* handle) const {
        return std::find_if(m_devices.begin(), m_devices.end(),
                            [handle](const Ptr& device) { return device.get() == handle; });
    }

    mutable std::mutex m_mutex;
    std::vector<Ptr> m_devices;
};
