// The process-wide state of one driver library and the bodies its exports
// share: the library log, the device list (the handles the exports accept),
// the closing threads of disconnects that do not wait, the handle look-up
// shim, the two log set-up calls, and Connect and Disconnect.
//
// One static CDriverLibrary per library. Exports call in from any thread;
// nothing escapes them as an exception. Devices are held by shared_ptr whose
// deleter shuts the device down before deleting it, and moves that to a
// closing thread when the last reference goes on one of the device's own
// threads (a callback that disconnected its own device).
//
// At unload (static destruction) the closing threads are joined first,
// while the devices they release can still log, then the devices still
// listed are shut down and go, and the log goes last.
#pragma once

#include <platform/win32.h>
#include <serial/DeviceList.h>
#include <serial/DriverDevice.h>
#include <serial/DriverLog.h>
#include <serial/WorkerThreads.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace driver {

// The result codes a library answers the shared bodies with.
template <typename Error>
struct LibraryCodes {
    Error success;
    Error failed;            // connect failed, or an exception stopped a call
    Error invalidHandle;     // not listed (also a null handle pointer to Disconnect)
    Error invalidParameter;  // a null output pointer
    Error badCeiling;        // a log ceiling above 7
};

template <typename Device, typename Error>
class CDriverLibrary {
public:
    using Ptr = std::shared_ptr<Device>;

    CDriverLibrary(const char* processIdentity, LibraryCodes<Error> codes)
        : m_log(processIdentity), m_codes(codes) {}
    ~CDriverLibrary() {
        m_closing.StopAndJoin();
        for (const auto& device : m_devices.TakeAll()) device->Shutdown();
    }
    CDriverLibrary(const CDriverLibrary&) = delete;
    CDriverLibrary& operator=(const CDriverLibrary&) = delete;

    driverlog::CLibraryLog& Log() { return m_log; }

    // The body of every export that works on a device: runs `call(device)`
    // on the device `handle` names and gives its result (success when it
    // returns nothing); 5 when the handle is not listed, 6 when one of
    // `outputs` is null (nothing is sent then), and the failure code when
    // anything is thrown. The reference taken here keeps the device alive
    // for the whole call, even if another thread disconnects it meanwhile.
    template <typename CallFn, typename... Outputs>
    Error Call(const void* handle, CallFn&& call, const Outputs*... outputs) noexcept {
        try {
            const Ptr device = m_devices.Find(handle);
            if (!device) return m_codes.invalidHandle;
            if (((outputs == nullptr) || ... || false)) return m_codes.invalidParameter;
            if constexpr (std::is_void_v<decltype(call(*device))>) {
                call(*device);
                return m_codes.success;
            } else {
                return call(*device);
            }
        } catch (...) {
            return m_codes.failed;
        }
    }

    // The body of every getter export: stores `get(device)`, what the device
    // knows without asking its instrument, in `*out` (6 when it is null).
    template <typename Out, typename GetFn>
    Error Get(const void* handle, Out* out, GetFn&& get) noexcept {
        return Call(handle, [&](Device& device) { *out = get(device); }, out);
    }

    // Saved for devices made later and applied at once to the listed ones.
    Error SetLogCeiling(unsigned level) noexcept {
        if (level > 7) return m_codes.badCeiling;
        return Shielded([&] {
            m_log.SetCeilingAndSave(static_cast<int>(level));
            for (const auto& device : m_devices.Snapshot()) device->Log().LogCeilingSet(level);
            return m_codes.success;
        });
    }
    Error SetLogfilePath(const wchar_t* path) noexcept {
        return Shielded([&] {
            const std::wstring value = path ? path : L"";
            m_log.SetFilePathAndSave(value);
            for (const auto& device : m_devices.Snapshot()) device->Log().LogFilePathSet(value);
            return m_codes.success;
        });
    }

    // Makes a device, lists it (another thread can reach it from here on),
    // applies the saved log settings, hands out its address and runs
    // `connect(device)`. A device that did not connect is unlisted and shut
    // down, and the handle is null again.
    template <typename ConnectFn>
    Error Connect(void** handle, ConnectFn&& connect) noexcept {
        if (!handle) return m_codes.invalidParameter;
        *handle = nullptr;
        return Shielded([&] {
            Ptr device(new Device(m_log), [this](Device* d) { Destroy(d); });
            m_devices.Add(device);
            device->Log().ApplySavedSettings();
            *handle = device.get();
            if (connect(*device) == ConnectResult::Connected) return m_codes.success;
            *handle = nullptr;
            m_devices.Remove(device.get());
            device->Shutdown();
            return m_codes.failed;
        });
    }

    // Unlists the device and closes it: on the calling thread when `wait`,
    // else on a closing thread that signals `event` once the port is closed
    // and the device is gone (unless another call still uses it). A waiting
    // disconnect signals `event` too, and closes it when `closeEventAfterWait`
    // (the caller handed it over). From one of the device's own threads a
    // waiting disconnect cannot wait for itself and goes to a closing thread.
    Error Disconnect(void** handle, bool wait, HANDLE event, bool closeEventAfterWait) noexcept {
        if (!handle) return m_codes.invalidHandle;
        return Shielded([&] {
            Ptr device = m_devices.Remove(*handle);
            if (!device) return m_codes.invalidHandle;
            *handle = nullptr;
            device->BeginDisconnect();
            const bool closeEvent = wait && closeEventAfterWait;
            if (wait && !device->RunsOnOwnThread()) {
                device->Shutdown();
                device.reset();
                SignalAndMaybeClose(event, closeEvent);
                return m_codes.success;
            }
            // The closing thread takes the device out of a shared slot rather
            // than holding a copy, so its release is the last one this call
            // had and the caller hears of it only after that.
            auto slot = std::make_shared<Ptr>(std::move(device));
            auto close = [slot, event, closeEvent] {
                (*slot)->Shutdown();
                slot->reset();
                SignalAndMaybeClose(event, closeEvent);
            };
            if (!m_closing.Start(close)) close();
            return m_codes.success;
        });
    }

private:
    template <typename Body>
    Error Shielded(Body&& body) noexcept {
        try {
            return body();
        } catch (...) {
            return m_codes.failed;
        }
    }

    static void SignalAndMaybeClose(HANDLE event, bool close) {
        if (!event) return;
        SetEvent(event);
        if (close) CloseHandle(event);
    }

    // The deleter of every device: shut down, then delete, never on one of
    // the device's own threads (that would wait for itself).
    void Destroy(Device* device) {
        if (device->RunsOnOwnThread()) {
            // Without a closing thread the device is left alone: better than
            // waiting for the thread we run on.
            m_closing.Start([device] {
                device->Shutdown();
                delete device;
            });
            return;
        }
        device->Shutdown();
        delete device;
    }

    // Declared first: outlives the devices, which log until they go.
    driverlog::CLibraryLog m_log;
    LibraryCodes<Error> m_codes;
    CDeviceList<Device> m_devices;
    CWorkerThreads m_closing;
};

}  // namespace driver
