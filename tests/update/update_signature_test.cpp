// The list the publisher's script writes verifies with the key it was made with, and every field
// the program shows or acts on is covered: changing any one of them breaks the signature.
#include <gtest/gtest.h>

#include "foundation/text.h"
#include "support/test_support.h"
#include "update/self_update.h"
#include "update/update_text.h"

namespace {

// The public half of the key scripts/sign-update.sh signed tests/update/data/signed-list.json
// with; the private half was thrown away.
const std::vector<uint8_t> kListKey = {
    0xb2, 0xf2, 0xd2, 0xdf, 0x73, 0x03, 0xc6, 0x26, 0xb9, 0x6a, 0xc3, 0xcd, 0x68, 0x2d, 0x8e, 0x60, 0x7c, 0x48, 0xef, 0x2b, 0xd8, 0x60,
    0xc8, 0x0f, 0x35, 0xaa, 0x5c, 0x9a, 0x06, 0x04, 0xa8, 0x7a, 0x88, 0xf3, 0x5c, 0xb7, 0xf6, 0xe6, 0x3d, 0x77, 0xf4, 0x0a, 0x12, 0x3c,
    0x46, 0x7f, 0xc4, 0x98, 0x9e, 0xe7, 0x11, 0x63, 0x6d, 0x35, 0x02, 0x28, 0x34, 0xa0, 0x7c, 0x24, 0xf5, 0x19, 0x33, 0xfa};

}  // namespace

TEST(UpdateSignature, TheScriptsListVerifiesAndATamperedFieldOfAnyKindDoesNot) {
    const std::string json = ReadFileBytes(BinDirectory() + L"\\testdata\\signed-list.json");
    ASSERT_FALSE(json.empty());
    AppUpdate listed;
    UpdateSignatures signatures;
    ASSERT_EQ(ParseUpdateList(json, listed, signatures), ListError::None);
    EXPECT_EQ(ToUtf8(listed.notes), "Faster scans \xE2\x80\x94 \xE2\x80\x9C" "adaptive\xE2\x80\x9D sweep \xE2\x9C\x93 \xF0\x9F\x8E\xAE\nSecond line");
    UpdateSource source;
    source.publicKey = kListKey;
    std::wstring error;
    EXPECT_TRUE(VerifyUpdateSignature(source, listed, signatures.full, error)) << ToUtf8(error);
    // The older signature stays for older builds; it does not cover the notes, so it is not enough here.
    EXPECT_FALSE(VerifyUpdateSignature(source, listed, signatures.legacy, error));

    const auto tampered = [&](const char* field, auto change) {
        AppUpdate copy = listed;
        change(copy);
        EXPECT_FALSE(VerifyUpdateSignature(source, copy, signatures.full, error)) << field;
        EXPECT_EQ(error, L"The update list is not signed by the publisher, so it was ignored.") << field;
    };
    tampered("version", [](AppUpdate& u) { u.version = L"2.8.2"; });
    tampered("url", [](AppUpdate& u) { u.url = L"https://media.fenmarch.com/Quorvantis-2.8.2.exe"; });
    tampered("size", [](AppUpdate& u) { u.size += 1; });
    tampered("sha256", [](AppUpdate& u) { u.sha256[10] = u.sha256[10] == L'0' ? L'1' : L'0'; });
    tampered("notes", [](AppUpdate& u) { u.notes += L" Also installs a toolbar."; });
}
