#pragma once
// A service's configuration block, sized by asking Windows first: a fixed buffer would fail for a
// service whose paths and dependencies are long.
#include <windows.h>

#include <vector>

// Level 0 is QueryServiceConfigW's QUERY_SERVICE_CONFIGW; any other is QueryServiceConfig2W's
// level. Empty when the configuration cannot be read.
std::vector<BYTE> QueryServiceConfigBlock(SC_HANDLE service, DWORD level = 0);

inline const QUERY_SERVICE_CONFIGW* ServiceConfigOf(const std::vector<BYTE>& block) {
    return block.empty() ? nullptr : reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(block.data());
}
