// Afterburner's configuration file with the keys the step sets.
#include <algorithm>

#include "afterburner/afterburner_text.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(AsText(data, size));
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    for (const char* key : {"StartWithWindows", "FirstRun", "EnableServer", "S"}) SetConfigKey(text, key, "1");
    // Setting keys never adds or removes a line.
    if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) != lines) __builtin_trap();
    return 0;
}
