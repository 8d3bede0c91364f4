// The NVIDIA lookup service's answer.
#include "fuzz_common.h"
#include "driver/driver_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = AsText(data, size);
    ParseNvidiaAnswer(text);
    return 0;
}
