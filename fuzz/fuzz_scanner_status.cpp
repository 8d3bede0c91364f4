// The overclock scanner's status line.
#include "afterburner/afterburner_text.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring status = AsWide(data, size);
    ClassifyScanStatus(status);
    ScanActivitySeen(status);
    double fraction = 0;
    if (ScanProgress(status, fraction) && !(fraction >= 0)) __builtin_trap();
    return 0;
}
