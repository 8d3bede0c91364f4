// The AMD package index's install script and the package address it names.
#include "fuzz_common.h"
#include "driver/driver_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = AsText(data, size);
    const std::string url = ScriptValue(text, "url64");
    ScriptValue(text, "checksum64");
    ScriptValue(text, "");
    AmdVersionFromUrl(FromUtf8(url));
    SameDigest(FromUtf8(url), AsWide(data, size));
    return 0;
}
