#pragma once
#include <cstdint>

// The running Windows build number (e.g. 19045, 22631), read past the compatibility shims.
uint32_t WindowsBuildNumber();

// Timer requests made global by the kernel flag are honoured from Windows 11 / Server 2022
// (build 22000) on; Windows 10 2004 to 22H2 keeps every process's request to itself.
bool GlobalTimerRequestsHonoured();

// Said wherever the program would otherwise promise a system-wide effect it cannot have here.
inline constexpr const wchar_t* kPerProcessSentence =
    L"This Windows version keeps timer requests per-process, so the service's request helps only programs that also "
    L"request a resolution.";
