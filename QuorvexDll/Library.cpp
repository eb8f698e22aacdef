// The library's process-wide state (see Library.h). Statics of one file go
// in reverse order of definition: the log is defined first so that it
// outlives the devices shut down at unload.
#include "Library.h"

driverlog::CLibraryLog g_log{"CQuorvex"};
CQuorvexLibrary g_library;

CQuorvexLibrary::~CQuorvexLibrary() {
    closingThreads.StopAndJoin();
    // A device's own workers may still hold it: shutting it down joins them
    // before the last reference goes with this list.
    for (const auto& device : devices.TakeAll()) device->Shutdown();
}
