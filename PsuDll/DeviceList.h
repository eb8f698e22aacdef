// The library's list of devices it has handed out as handles, and of devices
// whose disconnect still runs on a closing thread after their handle was
// given up.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

class CAgilentE3633A;

namespace psudll {

class CDeviceList {
public:
    CDeviceList() = default;
    // Destroys what is left, waiting for their closing threads.
    ~CDeviceList();

    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    void Add(std::shared_ptr<CAgilentE3633A> device);
    // The first listed device whose address is the handle. A caller keeps the
    // device alive while it works on it, even if it is removed meanwhile.
    std::shared_ptr<CAgilentE3633A> Find(const void* handle) const;
    // Takes the first listed device with that address off the list.
    std::shared_ptr<CAgilentE3633A> Remove(const void* handle);
    // Keeps an unlisted device until its closing thread has finished.
    void Retire(std::shared_ptr<CAgilentE3633A> device);

    // Calls `action` for every listed device, in list order.
    template <typename Action>
    void ForEach(Action action) const {
        std::lock_guard lock(m_mutex);
        for (const auto& device : m_devices) action(*device);
    }

private:
    // Takes retired devices whose closing has finished out of the list, to
    // be destroyed by the caller outside the lock.
    std::vector<std::shared_ptr<CAgilentE3633A>> TakeClosed();

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<CAgilentE3633A>> m_devices;
    std::vector<std::shared_ptr<CAgilentE3633A>> m_retired;
};

}  // namespace psudll
