#pragma once
#include <cstdint>

// The running Windows build number (e.g. 19045, 22631), read past the compatibility shims.
uint32_t WindowsBuildNumber();
// Wine 8 can pose as Windows 10 at most: tests name a build to stand in (0: the system's again).
void SetWindowsBuildNumber(uint32_t build);

// Timer requests made global by the kernel flag are honoured from Server 2022 (build 20348) and
// Windows 11 (22000) on; Windows 10 2004 to 22H2 keeps every process's request to itself.
inline constexpr uint32_t kFirstBuildHonouringGlobalRequests = 20348;
inline bool GlobalTimerRequestsHonouredOn(uint32_t build) { return build >= kFirstBuildHonouringGlobalRequests; }
bool GlobalTimerRequestsHonoured();

// Said wherever the program would otherwise promise a system-wide effect it cannot have here.
inline constexpr const wchar_t* kPerProcessSentence =
    L"This Windows version keeps timer requests per-process, so the service's request helps only programs that also "
    L"request a resolution.";
