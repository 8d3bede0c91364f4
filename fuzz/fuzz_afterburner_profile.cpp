// Afterburner's GPU profile file: copying the Startup curve onto profile 1.
#include "afterburner/afterburner_text.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(AsText(data, size));
    std::string copied;
    std::wstring line;
    if (CopyStartupToProfile1(text, copied, line)) {
        // A copy is stable: copying again changes nothing.
        std::string again;
        if (!CopyStartupToProfile1(copied, again, line) || again != copied) __builtin_trap();
    }
    return 0;
}
