// The publisher's update list, and the versions and paths it names.
#include "fuzz_common.h"
#include "update/update_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AppUpdate update;
    UpdateSignatures signature;
    ParseUpdateList(AsText(data, size), update, signature);
    Version version{};
    if (ParseVersion(update.version, version)) {
        Version again{};
        if (!ParseVersion(VersionText(version), again) || CompareVersions(version, again) != 0) __builtin_trap();
    }
    ParseVersion(AsWide(data, size), version);
    AllowedDownloadPath(update.url);
    NormaliseSha256(update.sha256);
    SignedUpdateText(update);
    return 0;
}
