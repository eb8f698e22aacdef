// The library-wide driver log of libTallyDll.so: one ceiling and one log file
// shared by every counter this library drives.
#pragma once

#include <serial/DriverLog.h>

extern driverlog::CLibraryLog g_log;
