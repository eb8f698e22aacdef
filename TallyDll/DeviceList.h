// The library's list of connected devices: the handles it has handed out.
// Every export that takes a handle looks it up here; a caller keeps the
// device it found alive for the length of its call, so a disconnect on
// another thread never destroys a device under it.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

class CElapsedTimeCounter;

class CDeviceList {
public:
    using Device = std::shared_ptr<CElapsedTimeCounter>;

    CDeviceList() = default;
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    void Add(Device device);
    // The listed device with this address, or null.
    Device Find(const void* handle) const;
    // Unlists the device with this address and hands it over; null when it
    // was not listed.
    Device Remove(const void* handle);
    std::vector<Device> All() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Device> m_devices;
};
