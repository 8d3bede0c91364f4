// The update list as a server might send it, version numbers and the download paths a list may name.
#include <gtest/gtest.h>

#include "foundation/text.h"
#include "update/update_text.h"

TEST(UpdateVersion, ParsingComparisonAndText) {
    Version v{};
    ASSERT_TRUE(ParseVersion(L"2.6.2", v));
    EXPECT_EQ(v, (Version{2, 6, 2, 0}));
    ASSERT_TRUE(ParseVersion(L"7", v));
    EXPECT_EQ(v, (Version{7, 0, 0, 0}));
    ASSERT_TRUE(ParseVersion(L"65535.0.0.1", v));
    for (const wchar_t* bad : {L"", L"1.2.3.4.5", L"1..2", L"1.65536", L".1", L"1.", L"1.2a", L"v1", L"1 .2",
                               L"1.2.3.0000000000000000000000000004"}) {
        EXPECT_FALSE(ParseVersion(bad, v)) << ToUtf8(bad);
    }
    Version a{}, b{};
    ParseVersion(L"2.7", a);
    ParseVersion(L"2.7.0.0", b);
    EXPECT_EQ(CompareVersions(a, b), 0);
    ParseVersion(L"2.10", b);
    EXPECT_LT(CompareVersions(a, b), 0);
    EXPECT_EQ(VersionText(Version{2, 7, 0, 1}), L"2.7.0.1");
    EXPECT_EQ(VersionText(Version{2, 7, 0, 0}), L"2.7.0");
}

TEST(UpdateList, KeysAreReadAndEverythingElseSkippedWhateverItHolds) {
    AppUpdate u;
    UpdateSignatures signature;
    ASSERT_EQ(ParseUpdateList(R"({"schema":{"a":[1,{"b":"}]"}],"c":null},"version":"2.7.0","flag":true,"x":-1.5,
        "url":"https:\/\/media.example\/Quorvantis-2.7.0.exe","notes":"Line\nTwo \"q\" \u00e9 \ud83c\udfae \ud800x\b","sha256":"AB",
        "size":1234.9,"signature":"c2ln","signature2":"c2lnMg=="})",
                              u, signature),
              ListError::None);
    EXPECT_EQ(u.version, L"2.7.0");
    EXPECT_EQ(u.url, L"https://media.example/Quorvantis-2.7.0.exe");
    // Escapes as the publisher's script writes them: a pair of surrogates is one character, a
    // lone one the replacement character.
    EXPECT_EQ(ToUtf8(u.notes), "Line\nTwo \"q\" \xC3\xA9 \xF0\x9F\x8E\xAE \xEF\xBF\xBDx\b");
    EXPECT_EQ(u.sha256, L"AB");
    EXPECT_EQ(u.size, 1234u);
    EXPECT_EQ(signature.legacy, L"c2ln");
    EXPECT_EQ(signature.full, L"c2lnMg==");
    ASSERT_EQ(ParseUpdateList(R"({"size":-5})", u, signature), ListError::None);
    EXPECT_EQ(u.size, 0u);  // a negative size is ignored

    // Any valid JSON may stand beside the keys, exponents included.
    EXPECT_EQ(ParseUpdateList(R"({"a":1e5,"version":"2.7"})", u, signature), ListError::None);
    EXPECT_EQ(u.version, L"2.7");
    for (const char* bad : {"", "{", R"({"version":"1"} x)", R"({"size":1e5})", R"({"size":18446744073709551616})",
                            R"({"a":"\x"})", R"({"a":[1,2})", R"({"a" 1})", R"({"a":"\u12"})", R"({"a":"\u12g4"})", R"({,})", R"({"a":tru})"}) {
        EXPECT_EQ(ParseUpdateList(bad, u, signature), ListError::NotJson) << bad;
    }
    EXPECT_EQ(ParseUpdateList("[1,2]", u, signature), ListError::NotObject);
    EXPECT_EQ(ParseUpdateList(R"("text")", u, signature), ListError::NotObject);
}

TEST(UpdateList, DownloadPathsAndDigests) {
    EXPECT_TRUE(AllowedDownloadPath(L"/Quorvantis.exe"));
    EXPECT_TRUE(AllowedDownloadPath(L"/quorvantis-2.7.0-beta_1.EXE"));
    for (const wchar_t* bad : {L"/Quorvantis-.exe", L"/Quorvantis-2..7.exe", L"/Quorvantis-2.7/x.exe", L"/other.exe",
                               L"/Quorvantis-2.7.0.msi", L"/dir/Quorvantis.exe", L"/Quorvantis-2 7.exe"}) {
        EXPECT_FALSE(AllowedDownloadPath(bad)) << ToUtf8(bad);
    }
    EXPECT_FALSE(AllowedDownloadPath(L"/Quorvantis-" + std::wstring(65, L'a') + L".exe"));
    EXPECT_EQ(NormaliseSha256(L" E3B0C442 98FC1C14\t9AFBF4C8 996FB924\r\n27AE41E4649B934CA495991B7852B855"),
              L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(NormaliseSha256(std::wstring(63, L'a')), L"");
    EXPECT_EQ(NormaliseSha256(std::wstring(63, L'a') + L"g"), L"");
}
