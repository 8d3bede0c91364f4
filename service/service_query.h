#pragma once
// Read-only look at the timer service: 0 not installed, 1 running, 2 installed but not running.
inline constexpr const wchar_t* kServiceName = L"Quorvantis";
inline constexpr const wchar_t* kLegacyServiceName = L"Brevitron";

int QueryTimerServiceState();
