// Output of the Windows tools the health checks run (fsutil, PowerShell).
#include "fuzz_common.h"
#include "health/tool_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring output = AsWide(data, size);
    TrimEnabledFromFsutil(output);
    MemoryCompressionFromPowerShell(output);
    return 0;
}
