// Afterburner's control shared memory as another process may have left it.
#include "afterburner/afterburner_text.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string identifier;
    MacmHeaderValid(data, size);
    const int entry = MacmNvidiaEntry(data, size, identifier);
    SafeProfileIdentifier(identifier);
    if (entry >= 0 && identifier.rfind("VEN_10DE", 0) != 0) __builtin_trap();
    return 0;
}
