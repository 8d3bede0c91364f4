// What GPU Clean reads from vendors and builds for them: hosts and addresses, the NVIDIA question
// and answer, the AMD script, package names, the INF filters and the size rules.
#include <gtest/gtest.h>

#include "foundation/text.h"
#include "driver/driver_text.h"
#include "driver/vendor_hosts.h"

TEST(VendorHosts, WholeNamesOnlyAndSubdomainsOnlyForNvidiaDownloads) {
    const VendorHosts& hosts = ProductVendorHosts();
    struct Case {
        int kind;
        const wchar_t* url;
        bool allowed;
    } cases[] = {
        {NvidiaDownload, L"https://us.download.nvidia.com/Windows/566.36/566.36-desktop.exe", true},
        {NvidiaDownload, L"https://DOWNLOAD.NVIDIA.COM/x.exe", true},
        {NvidiaDownload, L"https://evildownload.nvidia.com/x.exe", false},  // no dot before the name
        {NvidiaDownload, L"https://download.nvidia.com.evil.net/x.exe", false},
        {NvidiaDownload, L"http://download.nvidia.com/x.exe", false},
        {NvidiaDownload, L"https://download.nvidia.com@evil.net/x.exe", false},
        {AmdDownload, L"https://www.drivers.amd.com/x.exe", false},  // subdomains only for NVIDIA
        {AmdDownload, L"https://drivers.amd.com/drivers/whql-amd-software-adrenalin-edition-24.12.1-win10.exe", true},
        {PackageIndex, L"https://packages.chocolatey.org/amd.nupkg", true},
        {PackageIndex, L"https://drivers.amd.com/amd.nupkg", false},
        {SevenZip, L"https://7-zip.org/a/7z2600-x64.exe", true},
        {SevenZip, L"https://www.7-zip.org:443/a/7z2600-x64.exe", true},
        {7, L"https://download.nvidia.com/x.exe", false},
        {-1, L"https://download.nvidia.com/x.exe", false},
    };
    for (const Case& c : cases) EXPECT_EQ(VendorAddressAllowed(hosts, c.kind, c.url), c.allowed) << ToUtf8(c.url);
}

TEST(VendorHosts, AddressesSplitIntoTheirPartsAndOddOnesDoNot) {
    UrlParts parts;
    ASSERT_TRUE(SplitUrl(L"HTTPS://Localhost:8443/a/b.exe?x=1#frag", parts));
    EXPECT_EQ(parts.scheme, L"https");
    EXPECT_EQ(parts.host, L"localhost");
    EXPECT_EQ(parts.port, 8443);
    EXPECT_EQ(parts.path, L"/a/b.exe");
    EXPECT_EQ(parts.query, L"?x=1");
    ASSERT_TRUE(SplitUrl(L"https://host", parts));
    EXPECT_EQ(parts.path, L"/");
    for (const wchar_t* bad : {L"", L"download.nvidia.com/x", L"https://", L"https://:443/", L"https://host:0/",
                               L"https://host:70000/", L"https://host:44a/", L"https://ho st/", L"https://host/a b",
                               L"https://user@host/", L"://host/"}) {
        EXPECT_FALSE(SplitUrl(bad, parts)) << ToUtf8(bad);
    }
    EXPECT_FALSE(SplitUrl(L"https://" + std::wstring(257, L'a') + L"/", parts));
    EXPECT_FALSE(SplitUrl(L"https://host/" + std::wstring(4096, L'a'), parts));
    EXPECT_FALSE(SplitUrl(L"https://host/?" + std::wstring(2048, L'a'), parts));
}

TEST(NvidiaLookup, TheQuestionIsPercentEncodedJsonOnTheServicePath) {
    EXPECT_EQ(PercentEncode("aZ09-._~ {\"}/\xC3"), "aZ09-._~%20%7B%22%7D%2F%C3");
    const std::wstring path = NvidiaLookupPath(L"2786_10DE", L"22631", true);
    EXPECT_EQ(path.rfind(L"/nvidia_web_services/controller.gfeclientcontent.NG.php/com.nvidia.services."
                         L"GFEClientContent_NG.getDispDrvrByDevid/%7B%22dIDa%22%3A%5B%222786_10DE%22%5D",
                         0),
              0u);
    EXPECT_NE(path.find(L"%22osB%22%3A%2222631%22"), std::wstring::npos);
    EXPECT_NE(path.find(L"%22iLp%22%3A%221%22"), std::wstring::npos);
    EXPECT_EQ(OsBuildText(L"22631"), L"22631");
    EXPECT_EQ(OsBuildText(L"19045.1"), L"190451");
    EXPECT_EQ(OsBuildText(L"unknown"), L"22621");
}

TEST(NvidiaLookup, AnswerFieldsWithEscapesNullAndTheFallbackAddress) {
    const NvidiaAnswer full = ParseNvidiaAnswer(
        R"({"Success":"1","IDS":[{"downloadInfo":{"DriverAttributes":{"x":1},"Version" : "566.36","Name":"GeForce Game Ready\u00AE Driver \"WHQL\"","DownloadURLAdmin":null,"DownloadURL":"https:\/\/us.download.nvidia.com\/Windows\/566.36\/566.36-desktop-win10-win11-64bit-international-dch-whql.exe"}}]})");
    EXPECT_TRUE(full.found);
    EXPECT_EQ(full.version, L"566.36");
    EXPECT_EQ(full.name, L"GeForce Game Ready\u00AE Driver \"WHQL\"");
    EXPECT_EQ(full.url, L"https://us.download.nvidia.com/Windows/566.36/566.36-desktop-win10-win11-64bit-international-dch-whql.exe");

    const NvidiaAnswer admin = ParseNvidiaAnswer(R"({"DriverAttributes":1,"DownloadURLAdmin":"https://a/x.exe","DownloadURL":"https://b/y.exe"})");
    EXPECT_EQ(admin.url, L"https://a/x.exe");
    EXPECT_FALSE(ParseNvidiaAnswer(R"({"Success":"0","Version":"1"})").found);
    // A number where a string belongs names nothing; a cut answer is no answer.
    const NvidiaAnswer number = ParseNvidiaAnswer(R"({"DriverAttributes":{},"Version":566,"Name":"caf\u00e9"})");
    EXPECT_TRUE(number.found);
    EXPECT_EQ(number.version, L"");
    EXPECT_EQ(number.name, L"caf\u00e9");
    EXPECT_FALSE(ParseNvidiaAnswer(R"({"DriverAttributes":{},"Version":"566.3)").found);
}

TEST(AmdIndex, ScriptValuesVersionAndDigestRules) {
    const std::string script =
        "$packageArgs = @{\n  url64 = 'https://drivers.amd.com/drivers/whql-amd-software-adrenalin-edition-24.12.1-win10-win11-dec2024.exe'\n"
        "  checksum64 = \"0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef\"\n}\n";
    EXPECT_EQ(ScriptValue(script, "url64"),
              "https://drivers.amd.com/drivers/whql-amd-software-adrenalin-edition-24.12.1-win10-win11-dec2024.exe");
    EXPECT_EQ(ScriptValue(script, "checksum64").size(), 64u);
    EXPECT_EQ(ScriptValue("url = \"https://x/'y'\"", "url"), "https://x/'y'");
    EXPECT_EQ(ScriptValue("url64 = ''", "url64"), "");
    EXPECT_EQ(ScriptValue("url64 = 'unterminated", "url64"), "");
    EXPECT_EQ(ScriptValue("nothing here", "url64"), "");
    EXPECT_EQ(AmdVersionFromUrl(L"https://drivers.amd.com/drivers/whql-amd-software-adrenalin-edition-24.12.1-win10.exe"),
              L"24.12.1");
    EXPECT_EQ(AmdVersionFromUrl(L"https://drivers.amd.com/edition--x.exe"), L"");
    EXPECT_EQ(AmdVersionFromUrl(L"https://drivers.amd.com/edition-24.12.1.exe"), L"");
    EXPECT_TRUE(SameDigest(L"ABCdef", L"abcDEF"));
    EXPECT_FALSE(SameDigest(L"abc", L"abcd"));
    EXPECT_FALSE(SameDigest(L"", L""));
}

TEST(DriverPackage, FileNamesFromAddresses) {
    EXPECT_EQ(PackageFileName(L"https://us.download.nvidia.com/Windows/566.36/566.36-desktop.exe?x=/a.exe"), L"566.36-desktop.exe");
    EXPECT_EQ(PackageFileName(L"https://host/dir/a..b.exe"), L"driver.exe");
    EXPECT_EQ(PackageFileName(L"https://host/dir/"), L"driver.exe");
    EXPECT_EQ(PackageFileName(L"https://host/" + std::wstring(161, L'a')), L"driver.exe");
    EXPECT_EQ(PackageFileName(L"https://host/" + std::wstring(160, L'a')), std::wstring(160, L'a'));
    EXPECT_EQ(PackageFileName(L"https://host/a\"b*c:d<e>f\\g|h.exe"), L"a_b_c_d_e_f_g_h.exe");
}

TEST(DriverPackage, InfFiltersSkipSideDriversAndPreferTheDisplayFolder) {
    EXPECT_TRUE(InfDirectorySkipped(L"HDMI_Audio"));
    EXPECT_TRUE(InfDirectorySkipped(L"AMDLinkUpdate"));
    EXPECT_FALSE(InfDirectorySkipped(L"Display"));
    EXPECT_TRUE(InfNamesAmdDisplayDriver("[Manufacturer]\r\nServiceBinary=%12%\\AMDKMDAG.sys\r\n"));
    const std::string wide("A\0m\0d\0K\0m\0d\0a\0g\0", 16);
    EXPECT_TRUE(InfNamesAmdDisplayDriver("\xFF\xFE" + wide));
    EXPECT_TRUE(InfNamesAmdDisplayDriver("\xFF" + wide));  // odd alignment
    EXPECT_FALSE(InfNamesAmdDisplayDriver(std::string("A\0m\0d\0K\0m\0d\0a\x01g\0", 16)));
    EXPECT_FALSE(InfNamesAmdDisplayDriver("amdkmda"));
    EXPECT_EQ(InfCandidates({L"C:\\u\\Packages\\Drivers\\Display\\WT6A_INF\\u0412345.inf", L"C:\\u\\other\\a.inf"}),
              std::vector<std::wstring>{L"C:\\u\\Packages\\Drivers\\Display\\WT6A_INF\\u0412345.inf"});
    EXPECT_EQ(InfCandidates({L"C:\\u\\a.inf", L"C:\\u\\b.inf"}).size(), 2u);
}

TEST(DriverPackage, SizeDiskNotesAndExitCodes) {
    std::wstring error;
    EXPECT_TRUE(PackageFitsDisk(0x2000000, true, 0x2000000ull * 2 + 0x40000000, error)) << ToUtf8(error);
    EXPECT_FALSE(PackageFitsDisk(0x1FFFFFF, true, 1ull << 40, error));
    EXPECT_EQ(error, L"The published package is not a full display driver.");
    EXPECT_FALSE(PackageFitsDisk(0xFC000001ull, true, 1ull << 40, error));
    EXPECT_FALSE(PackageFitsDisk(0, true, 0xFFFFFFFFull, error));
    EXPECT_EQ(error, L"Need about 4.0 GB free. This drive has 4.0 GB.");
    EXPECT_FALSE(PackageFitsDisk(700ull << 20, true, 1000ull << 20, error));
    EXPECT_EQ(error, L"Need about 2.4 GB free. This drive has 1000 MB.");
    EXPECT_FALSE(PackageFitsDisk(700ull << 20, false, 0, error));
    EXPECT_EQ(error, L"Could not read free space on this drive.");
    EXPECT_EQ(OfferNotes(687ull << 20, true, L"Intel(R) UHD Graphics 770"),
              L"About 687 MB. This PC reports a battery. Laptops sometimes need the OEM package instead. Intel(R) UHD "
              L"Graphics 770 stays on its current driver.");
    EXPECT_EQ(OfferNotes(0, false, L""), L"The vendor did not list the package size.");
    EXPECT_EQ(CodeText(255), L"255");
    EXPECT_EQ(CodeText(3010), L"0x00000BC2");
    EXPECT_TRUE(DriverSetupSucceeded(3010));
    EXPECT_FALSE(DriverSetupSucceeded(2));
}
