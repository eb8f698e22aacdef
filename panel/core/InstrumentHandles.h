// The three driver handles the program holds while connected: what the
// libraries' Connect exports returned, null while disconnected.
//
// Threads: only the connection worker writes them, while it holds the
// session lock exclusively (see CConnectionController); workers read them
// under the shared lock, and the GUI thread reads them for the moment's
// value. Atomic, so no reader ever sees half a write.
#pragma once

#include <atomic>

extern std::atomic<void*> g_hQuorvex;
extern std::atomic<void*> g_hAgilent;
extern std::atomic<void*> g_hEtc;
