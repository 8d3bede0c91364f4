#pragma once
#include <windows.h>

#include <cstdint>

// Polls every 200 ms until the service reaches the state; false on a failed query or time-out.
bool WaitForServiceState(SC_HANDLE service, DWORD state, uint32_t timeoutMs);
