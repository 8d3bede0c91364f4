// Windows' energy report, as powercfg writes it after a measurement.
#include "fuzz_common.h"
#include "timer/energy_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<TimerHolder> holders;
    ParseEnergyReport(std::string_view(reinterpret_cast<const char*>(data), size), holders);
    HoldersText(holders);
    return 0;
}
