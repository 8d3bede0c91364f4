// The command line: arguments separated by NUL bytes in the input.
#include <vector>

#include "app/options.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> arguments;
    std::string_view text = AsText(data, size);
    while (!text.empty() && arguments.size() < 64) {
        const size_t end = text.find('\0');
        arguments.push_back(FromUtf8(text.substr(0, end)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    Options options;
    std::wstring error;
    if (!ParseOptionsText(arguments, options, error) && error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
}
