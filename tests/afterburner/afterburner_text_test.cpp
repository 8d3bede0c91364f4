// The Afterburner step's texts: configuration keys, the scanner's status line, the profile copy
// and the shared-memory layout, including malformed and truncated input.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "afterburner/afterburner_text.h"
#include "foundation/text.h"

TEST(AfterburnerConfig, ExistingKeysAreSetAndMissingOnesStayMissing) {
    std::string text = "[Settings]\r\nStartWithWindows = 0\r\nStartMinimized=0\r\nFirstRun = 1";
    EXPECT_TRUE(SetConfigKey(text, "StartWithWindows", "1"));
    EXPECT_TRUE(SetConfigKey(text, "FirstRun", "0"));
    EXPECT_FALSE(SetConfigKey(text, "EnableServer", "1"));
    EXPECT_EQ(text, "[Settings]\r\nStartWithWindows = 1\r\nStartMinimized=0\r\nFirstRun = 0");
    // Only at the start of a line, and case-sensitive.
    std::string other = "XStartupDelay = 5\nstartupdelay = 5\n";
    EXPECT_FALSE(SetConfigKey(other, "StartupDelay", "0"));
    EXPECT_EQ(other, "XStartupDelay = 5\nstartupdelay = 5\n");
    std::string first = "StartupDelay = 5";
    EXPECT_TRUE(SetConfigKey(first, "StartupDelay", "0"));
    EXPECT_EQ(first, "StartupDelay = 0");
    std::string empty;
    EXPECT_FALSE(SetConfigKey(empty, "FirstRun", "0"));
}

TEST(ScannerStatus, ClassificationFollowsTheLastMarkers) {
    struct Case {
        const wchar_t* status;
        ScanOutcome outcome;
    } cases[] = {
        {L"", ScanOutcome::Running},
        {L"Connected to MSI Afterburner", ScanOutcome::Running},
        {L"Start scanning\nScanning point 3 of 10", ScanOutcome::Running},
        {L"Start scanning\nScan succeeded", ScanOutcome::Succeeded},
        {L"Scanning point 9 of 10\nOverclocked curve exported", ScanOutcome::Succeeded},
        {L"Start scanning\nScan failed", ScanOutcome::Failed},
        {L"Failed to start scanning", ScanOutcome::Failed},
        {L"Scan failed\nResume scanning", ScanOutcome::Running},  // resumed after a failure
        {L"Scan failed\nResume scanning\nScan succeeded", ScanOutcome::Succeeded},
        {L"Scan succeeded\nScan cancelled", ScanOutcome::Failed},
        {L"Scan failed\nScan succeeded", ScanOutcome::Running},  // success after a failure without new activity
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifyScanStatus(c.status), c.outcome) << ToUtf8(c.status);
    EXPECT_TRUE(ScanActivitySeen(L"x Resume scanning"));
    EXPECT_FALSE(ScanActivitySeen(L"Connected to MSI Afterburner"));
}

TEST(ScannerStatus, ProgressComesFromTheFirstScanningPoint) {
    double p = -1;
    ASSERT_TRUE(ScanProgress(L"Scanning point 3 of 12\nScanning point 4 of 12", p));
    EXPECT_DOUBLE_EQ(p, 0.25);
    EXPECT_FALSE(ScanProgress(L"Scanning point 3 of 0", p));
    EXPECT_FALSE(ScanProgress(L"Scanning point of 12", p));
    EXPECT_FALSE(ScanProgress(L"Scanning point 3 from 12", p));
    EXPECT_FALSE(ScanProgress(L"Scanning point 3 of ", p));
    // An overlong count is not read as a shorter one, and a refused status leaves the fraction alone.
    p = -1;
    EXPECT_FALSE(ScanProgress(L"Scanning point 99999999999999999999 of 1", p));
    EXPECT_FALSE(ScanProgress(L"Scanning point 1 of 99999999999999999999", p));
    EXPECT_EQ(p, -1);
}

TEST(AfterburnerProfile, TheStartupCurveIsCopiedOntoProfile1KeepingLineEndings) {
    const std::string crlf =
        "[Startup]\r\nFormat=2\r\nCoreClkBoost=120000\r\nVFCurve=0A0B0C\r\nMemClkBoost=500000\r\n[Profile1]\r\nFormat=2\r\nVFCurve=FFFF\r\n"
        "[Defaults]\r\nFormat=2\r\n";
    std::string copied;
    std::wstring line;
    ASSERT_TRUE(CopyStartupToProfile1(crlf, copied, line));
    EXPECT_EQ(copied,
              "[Startup]\r\nFormat=2\r\nCoreClkBoost=120000\r\nVFCurve=0A0B0C\r\nMemClkBoost=500000\r\n[Profile1]\r\nFormat=2\r\n"
              "VFCurve=0A0B0C\r\nCoreClkBoost=120000\r\nMemClkBoost=500000\r\n[Defaults]\r\nFormat=2\r\n");
    EXPECT_EQ(line, L"Profile 1 applies the scanned curve at every logon (core +120 MHz, memory +500 MHz).");

    // LF only, no Profile1 yet: it is created before Defaults.
    ASSERT_TRUE(CopyStartupToProfile1("[Startup]\nVFCurve=01\n[Defaults]\nX=1\n", copied, line));
    EXPECT_EQ(copied, "[Startup]\nVFCurve=01\n[Profile1]\nVFCurve=01\n[Defaults]\nX=1\n");
    EXPECT_EQ(line, L"Profile 1 applies the scanned voltage curve at every logon.");
    // Neither Profile1 nor Defaults: at the end.
    ASSERT_TRUE(CopyStartupToProfile1("[Startup]\nVFCurve=01", copied, line));
    EXPECT_EQ(copied, "[Startup]\nVFCurve=01\n[Profile1]\nVFCurve=01\n");

    // An LF file with stray CRs keeps them and stays an LF file, so copying again changes nothing;
    // a section header with a stray CR is still that section.
    const std::string stray = "[Startup]\nVFCurve=02\n%\r\r\n[Profile1]\r\nVFCurve=01\n";
    ASSERT_TRUE(CopyStartupToProfile1(stray, copied, line));
    EXPECT_EQ(copied, "[Startup]\nVFCurve=02\n%\r\r\n[Profile1]\r\nVFCurve=02\n");
    std::string again;
    ASSERT_TRUE(CopyStartupToProfile1(copied, again, line));
    EXPECT_EQ(again, copied);
}

TEST(AfterburnerProfile, WithoutAStartupCurveNothingIsCopied) {
    std::string copied = "unchanged";
    std::wstring line;
    for (const char* text : {"", "[Profile1]\nVFCurve=01\n", "[Startup]\n[Profile1]\n", "[Startup]\nCoreClkBoost=5\n",
                             "[Startup", "\r\n\r\n", "[Startup]\nVFCurve"}) {
        EXPECT_FALSE(CopyStartupToProfile1(text, copied, line)) << text;
    }
    EXPECT_EQ(copied, "unchanged");
}

// Laid out by hand as Afterburner's SDK header describes it (not through our own constants): a
// 36-byte header, entries right after it, each with its flag word first and the identifier 3500
// bytes in.
TEST(AfterburnerSharedMemory, EntriesFollowTheHeaderAsItsOwnSizesSay) {
    for (const size_t header : {size_t{36}, size_t{40}}) {  // a later header may grow; its size field says so
        const size_t entrySize = 3760;
        std::vector<uint8_t> mapping(header + 2 * entrySize, 0);
        const auto put32 = [&](size_t at, uint32_t v) { std::memcpy(mapping.data() + at, &v, 4); };
        put32(0, 0x4D41434D);
        put32(4, 0x00020000);
        put32(8, static_cast<uint32_t>(header));
        put32(12, 2);
        put32(16, static_cast<uint32_t>(entrySize));
        const size_t first = header, second = header + entrySize;
        std::memcpy(mapping.data() + first + 3500, "VEN_1002&DEV_747E", 17);
        put32(first, 1);
        std::memcpy(mapping.data() + second + 3500, "VEN_10DE&DEV_2786&SUBSYS_51431458", 33);
        put32(second, 0x00060C00);
        std::string id;
        MacmHeader read;
        ASSERT_TRUE(ReadMacmHeader(mapping.data(), mapping.size(), read));
        EXPECT_EQ(MacmNvidiaEntry(read, mapping.data(), mapping.size(), id), 1) << header;
        EXPECT_EQ(id, "VEN_10DE&DEV_2786&SUBSYS_51431458");
        // What was checked is what is used: a header changed in the live mapping afterwards (a
        // tiny entry size, entries far beyond the view) changes nothing.
        put32(8, 0x7FFFFFF0);
        put32(16, 8);
        EXPECT_EQ(MacmNvidiaEntry(read, mapping.data(), mapping.size(), id), 1) << header;
        put32(8, static_cast<uint32_t>(header));
        put32(16, static_cast<uint32_t>(entrySize));
        // A flag word of zero is skipped; an entry beyond the mapping is never read.
        put32(second, 0);
        EXPECT_EQ(MacmNvidiaEntry(read, mapping.data(), mapping.size(), id), -1);
        put32(second, 7);
        put32(12, 1000);
        ASSERT_TRUE(ReadMacmHeader(mapping.data(), mapping.size() - 1, read));
        EXPECT_EQ(MacmNvidiaEntry(read, mapping.data(), mapping.size() - 1, id), -1);
        // A header that claims more than the view holds, or sizes below the layout's, is refused.
        EXPECT_FALSE(ReadMacmHeader(mapping.data(), header - 1, read));
        put32(16, 3759);
        EXPECT_FALSE(ReadMacmHeader(mapping.data(), mapping.size(), read));
        put32(16, static_cast<uint32_t>(entrySize));
        put32(8, 35);
        EXPECT_FALSE(ReadMacmHeader(mapping.data(), mapping.size(), read));
        put32(8, static_cast<uint32_t>(header));
        EXPECT_FALSE(ReadMacmHeader(mapping.data(), 35, read));
        put32(0, 0x4D41484D);
        EXPECT_FALSE(ReadMacmHeader(mapping.data(), mapping.size(), read));
    }
}

TEST(AfterburnerSharedMemory, OnlyPlainIdentifiersMayNameAProfileFile) {
    EXPECT_TRUE(SafeProfileIdentifier("VEN_10DE&DEV_2786&SUBSYS_51431458&REV_A1&BUS_1&DEV_0&FN_0"));
    for (const char* bad : {"", "VEN_10DE\\..\\..\\x", "VEN_10DE/../x", "VEN_10DE..", "VEN_10DE:stream", "VEN 10DE", "VEN_10DE%2e"}) {
        EXPECT_FALSE(SafeProfileIdentifier(bad)) << bad;
    }
    EXPECT_FALSE(SafeProfileIdentifier(std::string(221, 'A')));
    EXPECT_TRUE(SafeProfileIdentifier(std::string(220, 'A')));
}
