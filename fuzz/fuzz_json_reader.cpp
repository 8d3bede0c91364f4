// The JSON reader: any input, and every string it reads must read back the same once the writer
// has written it again.
#include "fuzz_common.h"
#include "foundation/json.h"
#include "foundation/json_reader.h"
#include "foundation/text.h"

namespace {

void CheckStrings(const JsonValue& value) {
    if (value.kind == JsonValue::Kind::String) {
        const std::optional<JsonValue> again = ParseJson(JsonQuoted(value.text));
        if (!again || again->text != FromUtf8(ToUtf8(value.text))) __builtin_trap();
    }
    for (const auto& member : value.members) CheckStrings(member.value);
    for (const JsonValue& item : value.items) CheckStrings(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<JsonValue> value = ParseJson(AsText(data, size));
    if (value) {
        CheckStrings(*value);
        uint64_t whole = 0;
        value->WholeNumber(whole);
    }
    return 0;
}
