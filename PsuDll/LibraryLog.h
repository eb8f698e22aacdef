// The one driver log of this library, shared by every device object.
#pragma once

#include <serial/DriverLog.h>

namespace psudll {

// Class name of the device objects; also the log's process identity.
constexpr const wchar_t* kDeviceClassName = L"CAgilentE3633A";

extern driverlog::CLibraryLog g_log;

}  // namespace psudll
