#include "timer/priority.h"

#include <windows.h>

std::wstring RaiseMeasurementPriority() {
    SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    // Without the increase-priority privilege Windows quietly grants high instead of realtime.
    switch (GetPriorityClass(GetCurrentProcess())) {
    case REALTIME_PRIORITY_CLASS:
        return L"realtime";
    case HIGH_PRIORITY_CLASS:
        return L"high (run elevated for realtime)";
    default:
        return L"normal";
    }
}
