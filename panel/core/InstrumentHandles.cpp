// The program's driver handles.
#include "InstrumentHandles.h"

std::atomic<void*> g_hQuorvex{nullptr};
std::atomic<void*> g_hAgilent{nullptr};
std::atomic<void*> g_hEtc{nullptr};
