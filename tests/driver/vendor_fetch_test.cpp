// The vendor fetch against a local HTTPS server that plays the vendor hosts, with the prefix
// trusting its test CA: redirects, lengths, sizes, statuses, compression, stopping and HEAD.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "driver/vendor_fetch.h"
#include "foundation/files.h"
#include "foundation/installer.h"
#include "foundation/sha256.h"
#include "foundation/text.h"
#include "support/test_support.h"
#include "support/vendor_test_server.h"

namespace {

class VendorFetchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << ToUtf8(server.Problem());
    }
    bool Fetch(const std::wstring& url, const std::wstring& method = L"GET", uint64_t limit = 1 << 30,
               const ChunkSink& sink = nullptr, int kind = NvidiaDownload) {
        return VendorFetch(server.Hosts(), kind, method, url, false, limit, sink, result, error, stop);
    }
    static std::string Pattern(size_t n) {
        std::string out(n, '\0');
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(i & 0xFF);
        return out;
    }

    VendorTestServer& server = VendorTestServer::Get();
    FetchResult result;
    std::wstring error;
    std::atomic<bool> stop{false};
};

}  // namespace

TEST_F(VendorFetchTest, ABodyArrivesWholeWithItsStatusLengthAndAddress) {
    ASSERT_TRUE(Fetch(server.Url(L"/bytes/300000"))) << ToUtf8(error) << " at " << ToUtf8(result.finalUrl);
    EXPECT_EQ(result.status, 200u);
    EXPECT_EQ(result.contentLength, 300000u);
    EXPECT_TRUE(result.body == Pattern(300000));
    EXPECT_EQ(result.finalUrl, server.Url(L"/bytes/300000"));

    // Without a length the end of the connection ends the body, and the total becomes the length.
    ASSERT_TRUE(Fetch(server.Url(L"/nolength/70000"))) << ToUtf8(error);
    EXPECT_EQ(result.contentLength, 70000u);
    EXPECT_EQ(result.body.size(), 70000u);

    // Compressed on the wire when the client offers to unpack it (Wine's does not), whole here either way.
    ASSERT_TRUE(Fetch(server.Url(L"/gzip/200000"))) << ToUtf8(error);
    EXPECT_TRUE(result.body == Pattern(200000)) << result.body.size() << " bytes";

    // HEAD: the length without a body.
    ASSERT_TRUE(Fetch(server.Url(L"/mz/123456"), L"HEAD")) << ToUtf8(error);
    EXPECT_EQ(result.contentLength, 123456u);
    EXPECT_TRUE(result.body.empty());
    EXPECT_GE(server.RequestsContaining("HEAD /mz/123456"), 1u);
}

TEST_F(VendorFetchTest, OnlyHttpsToAllowedHostsAndRedirectsAreCheckedAgain) {
    const size_t before = server.RequestsContaining("/bytes/11");
    EXPECT_FALSE(Fetch(FormatText(L"http://localhost:%ls/bytes/11", server.Url(L"").substr(18).c_str())));
    EXPECT_EQ(error, L"The address is not an https vendor URL.");
    EXPECT_FALSE(Fetch(server.ForeignUrl(L"/bytes/11")));
    EXPECT_EQ(error, L"The address is not on the vendor site.");
    EXPECT_EQ(server.RequestsContaining("/bytes/11"), before);  // refused before any connection

    ASSERT_TRUE(Fetch(server.Url(L"/redirect?to=") + server.Url(L"/bytes/12"))) << ToUtf8(error);
    EXPECT_EQ(result.body.size(), 12u);
    EXPECT_EQ(result.finalUrl, server.Url(L"/bytes/12"));

    // Away from the vendor's hosts: refused, and the other host is never even asked.
    EXPECT_FALSE(Fetch(server.Url(L"/redirect?to=") + server.ForeignUrl(L"/bytes/13")));
    EXPECT_EQ(error, L"The download was redirected away from the vendor site.");
    EXPECT_EQ(result.finalUrl, server.ForeignUrl(L"/bytes/13"));
    EXPECT_TRUE(result.body.empty());
    EXPECT_EQ(server.RequestsContaining("GET /bytes/13"), 0u);
    // Nor does a redirect down to plain http pass.
    EXPECT_FALSE(Fetch(server.Url(L"/redirect?to=http://localhost/bytes/14")));
    EXPECT_EQ(error, L"The download was redirected away from the vendor site.");
}

TEST_F(VendorFetchTest, ShortOversizeAndFailedAnswersAreErrorsWithTheirTexts) {
    EXPECT_FALSE(Fetch(server.Url(L"/short/100000")));
    EXPECT_TRUE(error == L"The download ended early." || error.rfind(L"The download stopped early (", 0) == 0) << ToUtf8(error);
    EXPECT_FALSE(Fetch(server.Url(L"/bytes/200000"), L"GET", 150000));
    EXPECT_EQ(error, L"The download is larger than a display-driver package should be.");
    EXPECT_FALSE(Fetch(server.Url(L"/status/404")));
    EXPECT_EQ(error, L"The vendor site returned status 404.");
    EXPECT_EQ(result.status, 404u);
    // A sink that cannot store the chunk, without a stop: a failed save, not a stop.
    EXPECT_FALSE(Fetch(server.Url(L"/bytes/1000"), L"GET", 1 << 30, [](const uint8_t*, size_t, uint64_t, uint64_t) { return false; }));
    EXPECT_EQ(error, L"Could not save the download.");
    EXPECT_FALSE(result.stopped());
}

TEST_F(VendorFetchTest, TheStopFlagEndsASlowDownloadBetweenChunks) {
    stop.store(true);
    EXPECT_FALSE(Fetch(server.Url(L"/bytes/10")));
    EXPECT_TRUE(result.stopped());
    stop.store(false);

    uint64_t seen = 0;
    const ULONGLONG started = GetTickCount64();
    EXPECT_FALSE(Fetch(server.Url(L"/slow/10000000"), L"GET", 1 << 30, [&](const uint8_t*, size_t, uint64_t received, uint64_t length) {
        seen = received;
        EXPECT_EQ(length, 10000000u);
        if (received >= 200000) stop.store(true);
        return true;
    }));
    EXPECT_EQ(error, L"Stopped.");
    EXPECT_TRUE(result.stopped());
    EXPECT_LT(seen, 10000000u);
    EXPECT_LT(GetTickCount64() - started, 5000u);  // the whole body would take 7.6 s
}

TEST(DriverHelpers, Sha256MatchesTheStandardVectors) {
    Sha256Hasher empty;
    ASSERT_TRUE(empty.Open());
    EXPECT_EQ(empty.Finish(), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256Hasher abc;
    abc.Add(reinterpret_cast<const uint8_t*>("a"), 1);
    abc.Add(reinterpret_cast<const uint8_t*>("bc"), 2);
    EXPECT_EQ(abc.Finish(), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(abc.Finish(), L"");  // finished once
}

TEST(DriverHelpers, TheInstallerRunnerReportsExitCodesTimeOutsAndRefusesQuotes) {
    const std::wstring child = BinDirectory() + L"\\qv_child.exe";
    InstallerRunResult run = RunInstaller(child, L"qv_child.exe exit 3010", BinDirectory(), 10000, true, true);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 3010u);

    TempFolder folder;
    const std::wstring marker = folder.Path() + L"\\late";
    run = RunInstaller(child, L"qv_child.exe sleep 4000 \"" + marker + L"\"", folder.Path(), 1000, true, true);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);  // killed with code 1
    Sleep(3500);
    EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);

    run = RunInstaller(child, L"qv_child.exe exit 0", L"C:\\a\"b", 1000, true, true);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.exitCode, 0xFFFFFFFFu);
    EXPECT_FALSE(RunInstaller(BinDirectory() + L"\\missing.exe", L"missing.exe", L"", 1000, true, true).started);
}

TEST(DriverHelpers, RemoveTreeDeletesReadOnlyFilesAndNestedFolders) {
    TempFolder folder;
    const std::wstring root = folder.Path() + L"\\tree";
    ASSERT_TRUE(EnsureFolder(root + L"\\a\\b\\c"));
    const std::wstring file = root + L"\\a\\b\\c\\ro.txt";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    RemoveTree(root);
    EXPECT_EQ(GetFileAttributesW(root.c_str()), INVALID_FILE_ATTRIBUTES);
}
