// Afterburner's control shared memory as another process may have left it.
#include <cstring>

#include "afterburner/afterburner_text.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string identifier;
    MacmHeader header;
    if (ReadMacmHeader(data, size, header)) {
        const int entry = MacmNvidiaEntry(header, data, size, identifier);
        SafeProfileIdentifier(identifier);
        if (entry >= 0 && identifier.rfind("VEN_10DE", 0) != 0) __builtin_trap();
    }
    // A header that no longer matches the bytes (changed after it was read) never leads outside them.
    if (size >= 12) {
        MacmHeader stale;
        std::memcpy(&stale.headerSize, data, 4);
        std::memcpy(&stale.count, data + 4, 4);
        std::memcpy(&stale.entrySize, data + 8, 4);
        MacmNvidiaEntry(stale, data + 12, size - 12, identifier);
    }
    return 0;
}
