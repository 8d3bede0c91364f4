// PresentMon for the game check: Intel's pinned release fetched once from the code host (through
// its redirect to the asset storage) into the tool folder, checked by digest and by Windows' own
// signature check against a copy signed in Intel's name; or the user's own copy, taken only from
// a folder nobody but administrators can change.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "app/console_game.h"
#include "driver/pinned_program.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "support/driver_test_kit.h"
#include "support/fakes.h"
#include "support/vendor_test_server.h"

namespace {

constexpr const char* kRelease = "GET /GameTechDev/PresentMon/releases/download/v2.3.1/PresentMon-2.3.1-x64.exe";
constexpr const char* kAsset = "GET /release-assets/github-production-release-asset/";

class PresentMonRelease : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Ready()) << ToUtf8(server.Problem()); }

    static std::wstring Bin(const wchar_t* name) { return BinDirectory() + L"\\" + name; }
    std::wstring Stored() const { return ToolFolder() + L"\\PresentMon-2.3.1-x64.exe"; }
    std::wstring Ensure(HeldFile& held) { return EnsurePresentMon(kit->Tools(), nullptr, stop, held, error); }
    static bool Logged(const std::string& text) { return ReadFileBytes(LogFilePath()).find(text) != std::string::npos; }

    VendorTestServer& server = VendorTestServer::Get();
    std::unique_ptr<DriverTestKit> kit = std::make_unique<DriverTestKit>();
    std::atomic<bool> stop{false};
    std::wstring error;
};

}  // namespace

// Downloaded once; used again while it is that release; fetched anew when the file is not.
TEST_F(PresentMonRelease, ThePinnedReleaseIsFetchedOnceAndKeptOnlyWhileItIsThatRelease) {
    kit->PlacePresentMon(Bin(L"fake_vendor_tool_intel.exe"));
    const size_t releases = server.RequestsContaining(kRelease), assets = server.RequestsContaining(kAsset);
    {
        HeldFile held;
        EXPECT_EQ(Ensure(held), Stored()) << ToUtf8(error);
        EXPECT_TRUE(held.Held());
        EXPECT_EQ(ReadFileBytes(Stored()), ReadFileBytes(Bin(L"fake_vendor_tool_intel.exe")));
        // What was checked cannot be changed while it is held.
        EXPECT_FALSE(WriteFileBytes(Stored(), "swapped"));
    }
    EXPECT_EQ(server.RequestsContaining(kRelease), releases + 1);
    EXPECT_EQ(server.RequestsContaining(kAsset), assets + 1) << "the code host's redirect is followed";
    EXPECT_EQ(kit->SignatureChecks(), (std::vector<std::wstring>{kIntelPublisher}));

    HeldFile again;
    EXPECT_EQ(Ensure(again), Stored());
    EXPECT_EQ(server.RequestsContaining(kRelease), releases + 1) << "kept for the next check";
    EXPECT_EQ(kit->SignatureChecks().size(), 2u) << "its signature is checked again each time";
    again.Release();

    ASSERT_TRUE(WriteFileBytes(Stored(), "MZ not the release"));
    HeldFile replaced;
    EXPECT_EQ(Ensure(replaced), Stored()) << ToUtf8(error);
    EXPECT_EQ(server.RequestsContaining(kRelease), releases + 2);
    EXPECT_EQ(ReadFileBytes(Stored()), ReadFileBytes(Bin(L"fake_vendor_tool_intel.exe")));
    EXPECT_TRUE(Logged("was not PresentMon's pinned release; it is downloaded again."));
}

// Another file, another signer, no signature or a broken one: deleted, with the reason.
TEST_F(PresentMonRelease, AnythingButIntelsSignedReleaseIsDeletedWithItsReason) {
    const std::wstring intel = Bin(L"fake_vendor_tool_intel.exe");
    const auto refused = [&](const std::wstring& expected) {
        HeldFile held;
        EXPECT_TRUE(Ensure(held).empty());
        EXPECT_FALSE(held.Held());
        EXPECT_EQ(error.substr(0, expected.size()), expected) << ToUtf8(error);
        EXPECT_FALSE(FileExists(Stored()));
    };
    kit->PlacePresentMon(intel, Bin(L"fake_vendor_tool.exe"));
    refused(L"The PresentMon download is not the one its publisher released (SHA-256 " + FromUtf8(Sha256Hex(ReadFileBytes(intel))) +
            L"), so it was deleted.");
    kit->PlacePresentMon(Bin(L"fake_vendor_tool_signed.exe"));
    refused(L"The PresentMon download is not signed by Intel Corporation, so it was deleted. It is signed by Quorvantis Test "
            L"Signer, not Intel Corporation.");
    kit->PlacePresentMon(Bin(L"fake_vendor_tool.exe"));
    refused(L"The PresentMon download is not signed by Intel Corporation, so it was deleted. It carries no signature.");
    kit->PlacePresentMon(Bin(L"fake_vendor_tool_intel_tampered.exe"));
    refused(L"The PresentMon download is not signed by Intel Corporation, so it was deleted. Windows did not accept its "
            L"signature (0x");
}

// --presentmon: a 64-bit program by its full path, in a folder only administrators can change,
// and Intel's signature where it carries one (releases from before 2024 carry none).
TEST_F(PresentMonRelease, AUsersOwnCopyIsTakenOnlyFromAFolderOnlyAdministratorsCanChange) {
    FakeFolderSecurity security;
    security.folders[L"C:\\"] = FakeFolderSecurity::Protected();
    TempFolder folder;
    const std::wstring copy = folder.File(L"PresentMon.exe");
    Options options;
    HeldFile held;
    const auto choose = [&](const wchar_t* source) {
        held.Release();
        DeleteFileW(copy.c_str());
        EXPECT_TRUE(CopyFileW(Bin(source).c_str(), copy.c_str(), FALSE));
        options.presentMon = copy;
        return TrustedPresentMon(options, kit->Tools(), stop, held, error);
    };

    options.presentMon = L"PresentMon.exe";
    EXPECT_TRUE(TrustedPresentMon(options, kit->Tools(), stop, held, error).empty());
    EXPECT_EQ(error, L"--presentmon must name PresentMon's 64-bit program by its full path: PresentMon.exe");

    security.folders[folder.Path()] = FakeFolderSecurity::MadeBy(Principal::ThisUser, true);
    EXPECT_TRUE(choose(L"fake_vendor_tool_intel.exe").empty());
    EXPECT_EQ(error.rfind(L"PresentMon is in a folder that programs without administrator rights can change", 0), 0u) << ToUtf8(error);
    EXPECT_FALSE(held.Held());

    security.folders[folder.Path()] = FakeFolderSecurity::Protected();
    EXPECT_EQ(choose(L"fake_vendor_tool_intel.exe"), copy) << ToUtf8(error);
    EXPECT_TRUE(held.Held());
    EXPECT_EQ(choose(L"fake_vendor_tool.exe"), copy) << ToUtf8(error);
    EXPECT_TRUE(Logged("carries no signature (releases before 2024 were not signed); it is used because only administrators can "
                       "change its folder."));
    EXPECT_TRUE(choose(L"fake_vendor_tool_signed.exe").empty());
    EXPECT_EQ(error, L"PresentMon's signature does not check out, so it is not started: It is signed by Quorvantis Test Signer, "
                     L"not Intel Corporation.");
    EXPECT_FALSE(held.Held());

    // Without --presentmon, the pinned release.
    kit->PlacePresentMon(Bin(L"fake_vendor_tool_intel.exe"));
    options.presentMon.clear();
    EXPECT_EQ(TrustedPresentMon(options, kit->Tools(), stop, held, error), Stored()) << ToUtf8(error);
    EXPECT_TRUE(held.Held());
}
