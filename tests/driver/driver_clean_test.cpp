// GPU Clean end to end inside the test: the offer looked up from a planted adapter, the package
// downloaded from the local vendor server and verified, and the trimmed install run through
// fake vendor tools (7-Zip bootstrap included).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "driver/driver_clean.h"
#include "driver/vendor_fetch.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/unique_handle.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "gui/workflow.h"
#include "support/driver_test_kit.h"
#include "support/fakes.h"
#include "support/vendor_test_server.h"
#include "support/wait.h"

namespace {

constexpr size_t kPackageSize = 0x2000000 + 4096;  // the smallest full driver, and a little more

void PlantAdapter(int index, const wchar_t* desc, const wchar_t* provider, const wchar_t* hardwareId, const wchar_t* version) {
    const std::wstring key = ScopedDisplayAdapters::Key(index);
    WriteString(RegRoot::LocalMachine, key, L"DriverDesc", desc);
    WriteString(RegRoot::LocalMachine, key, L"ProviderName", provider);
    WriteString(RegRoot::LocalMachine, key, L"MatchingDeviceId", hardwareId);
    WriteString(RegRoot::LocalMachine, key, L"DriverVersion", version);
}

class GpuClean : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << ToUtf8(server.Problem());
        adapters = std::make_unique<ScopedDisplayAdapters>();
        kit = std::make_unique<DriverTestKit>();
    }
    void TearDown() override {
        kit.reset();
        adapters.reset();
    }
    void PlantNvidia(const std::wstring& packageUrl, const std::string& package) {
        PlantAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA", L"pci\\ven_10de&dev_2786&subsys_51431458", L"31.0.15.3713");
        ASSERT_TRUE(server.PlaceFile(L"nvidia-answer.json",
                                     ToUtf8(L"{\"Success\":\"1\",\"IDS\":[{\"downloadInfo\":{\"DriverAttributes\":{},\"Version\":"
                                            L"\"566.36\",\"Name\":\"GeForce Game Ready Driver\",\"DownloadURLAdmin\":null,"
                                            L"\"DownloadURL\":\"" +
                                            packageUrl + L"\"}}]}")));
        if (!package.empty()) {
            ASSERT_TRUE(server.PlaceFile(L"566.36-desktop.exe", package));
        }
    }
    void PlantAmd(const std::string& package, const std::string& digest, const std::wstring& url) {
        PlantAdapter(0, L"AMD Radeon RX 7800 XT", L"Advanced Micro Devices, Inc.", L"pci\\ven_1002&dev_747e", L"31.0.24033.1003");
        const std::string script = "$packageArgs = @{\n  url64 = '" + ToUtf8(url) + "'\n  checksum64 = '" + digest + "'\n}\n";
        ASSERT_TRUE(server.PlaceFile(L"amd-index.nupkg",
                                     FakeArchive({{"tools/chocolateyinstall.ps1", script}, {"amd.nuspec", "<package/>"}}, false, 0)));
        if (!package.empty()) {
            ASSERT_TRUE(server.PlaceFile(L"amd-package.exe", package));
        }
    }

    VendorTestServer& server = VendorTestServer::Get();
    std::unique_ptr<ScopedDisplayAdapters> adapters;
    std::unique_ptr<DriverTestKit> kit;
    std::atomic<bool> stop{false};
};

}  // namespace

TEST_F(GpuClean, NvidiaOfferDownloadReuseAndTrimmedInstallWithSevenZipFirst) {
    const std::string package = FakeArchive({{"setup.exe", "", true}, {"Display.Driver/nvlddmkm.sys", "driver"}}, true, kPackageSize);
    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), package);

    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(offer.found) << ToUtf8(offer.error);
    EXPECT_EQ(offer.vendor, GpuNvidia);
    EXPECT_EQ(offer.adapterName, L"NVIDIA GeForce RTX 4070");
    EXPECT_EQ(offer.currentDriver, L"Windows driver  31.0.15.3713");
    EXPECT_EQ(offer.version, L"566.36");
    EXPECT_EQ(offer.size, kPackageSize);  // from a HEAD request
    EXPECT_TRUE(offer.spaceOk) << ToUtf8(offer.error);
    EXPECT_EQ(offer.notes, L"About 32 MB.");
    // The first question names the whole device key, percent-encoded.
    EXPECT_GE(server.RequestsContaining("%222786_10DE_5143_1458%22"), 1u);

    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok()) << ToUtf8(offer.error);
    EXPECT_EQ(offer.localPath, DriverFolder() + L"\\566.36-desktop.exe");
    EXPECT_EQ(ReadFileBytes(offer.localPath).size(), kPackageSize);
    EXPECT_FALSE(FileExists(offer.localPath + L".partial"));
    // Downloaded once: the same package on disk is used again without a request.
    const size_t gets = server.RequestsContaining("GET /files/566.36-desktop.exe");
    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok());
    EXPECT_EQ(server.RequestsContaining("GET /files/566.36-desktop.exe"), gets);

    ScopedEnvironment setupExit(L"QV_FAKE_EXIT_setup", L"3010");  // a success that asks for a restart
    ASSERT_TRUE(InstallGpuDriver(kit->Tools(), nullptr, offer).Ok()) << ToUtf8(offer.error);
    EXPECT_TRUE(FileExists(kit->SevenZipPath()));
    const std::string calls = kit->ToolCalls();
    EXPECT_NE(calls.find("7z2600-x64.exe\" /S"), std::string::npos) << calls;
    EXPECT_NE(calls.find("setup.exe\" -s -n Display.Driver Display.PhysX -log:"), std::string::npos) << calls;
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\nvidia-unpack"));
    // NVIDIA's signature on the package when it arrives, when it is used again, right before it is
    // unpacked, and on the unpacked setup that runs; 7-Zip's installer (pinned by its digest) has
    // its signature checked only where it has one.
    EXPECT_EQ(kit->SignatureChecks(), (std::vector<std::wstring>{kNvidiaPublisher, kNvidiaPublisher, kNvidiaPublisher, L"",
                                                                 kNvidiaPublisher}));
    EXPECT_NE(ReadFileBytes(LogFilePath()).find("7-Zip installer SHA-256: " + Sha256Hex(ReadFileBytes(kit->FakeToolPath())) + "."),
              std::string::npos);
}

TEST_F(GpuClean, AnUnsignedOrOffSitePackageIsNeverKeptOrRun) {
    const std::string package = FakeArchive({{"setup.exe", "", true}}, true, kPackageSize);
    PlantNvidia(server.ForeignUrl(L"/files/566.36-desktop.exe"), package);
    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    EXPECT_FALSE(offer.found);
    EXPECT_EQ(offer.error, L"NVIDIA returned a package that is not on its download site.");

    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), package);
    offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(offer.found) << ToUtf8(offer.error);
    kit->refuseSignatures = true;
    EXPECT_EQ(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"The package is not signed by NVIDIA, so it was deleted. It carries no signature.");
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\566.36-desktop.exe"));

    // A package path outside the driver folder is refused even though the file exists.
    kit->refuseSignatures = false;
    TempFolder elsewhere;
    offer.localPath = elsewhere.File(L"setup.exe");
    CopyFileW(kit->FakeToolPath().c_str(), offer.localPath.c_str(), FALSE);
    EXPECT_EQ(InstallGpuDriver(kit->Tools(), nullptr, offer).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"There is no downloaded package to install.");
    // Programs that exist beside the driver folder, reached by "..\" or by a folder whose name
    // only begins like it: only the inside-the-folder check can refuse them.
    const std::wstring beside = DriverFolder() + L"-beside";
    ASSERT_TRUE(CreateDirectoryW(beside.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    for (const std::wstring& path : {DriverFolder() + L"\\..\\setup.exe", beside + L"\\setup.exe"}) {
        ASSERT_TRUE(CopyFileW(kit->FakeToolPath().c_str(), path.c_str(), FALSE)) << ToUtf8(path);
        offer.localPath = path;
        EXPECT_EQ(InstallGpuDriver(kit->Tools(), nullptr, offer).Which(), Outcome::Kind::Failed) << ToUtf8(path);
        EXPECT_EQ(offer.error, L"There is no downloaded package to install.");
        DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(beside.c_str());
    EXPECT_EQ(kit->ToolCalls().find("setup.exe"), std::string::npos);
}

TEST_F(GpuClean, AmdDigestCheckedAndOnlyDisplayInfsInstalledThroughPnputil) {
    const std::string inf = "[Version]\r\n[Manufacturer]\r\nServiceBinary=%13%\\amdkmdag.sys\r\n";
    const std::string nested = FakeArchive({{"Display/WT6B_INF/inner.inf", inf}}, false, 0);
    const std::string package = FakeArchive(
        {{"Packages/Drivers/Display/WT6A_INF/u0412345.inf", inf},
         {"Packages/Drivers/HDMI_Audio/hdmi.inf", inf},               // a side driver that names it too
         {"Packages/Drivers/Chipset/chipset.inf", "[Version]\r\n"},  // not the display driver
         {"Packages/Drivers/Display/extra.zip", nested},
         {"Bin64/Setup.exe", "", true}},
        true, kPackageSize);
    const std::wstring url = server.Url(L"/files/amd-package.exe");
    PlantAmd(package, Sha256Hex(package), url);

    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(offer.found) << ToUtf8(offer.error);
    EXPECT_EQ(offer.vendor, GpuAmd);
    EXPECT_EQ(offer.sha256.size(), 64u);
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\amd-index"));  // the index is removed after reading
    EXPECT_NE(kit->ToolCalls().find("tar.exe\" -xf \""), std::string::npos);

    // A published digest in other letter case still matches.
    for (wchar_t& c : offer.sha256) c = static_cast<wchar_t>(towupper(c));
    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok()) << ToUtf8(offer.error);
    ASSERT_TRUE(InstallGpuDriver(kit->Tools(), nullptr, offer).Ok()) << ToUtf8(offer.error);
    const std::string calls = kit->ToolCalls();
    EXPECT_NE(calls.find("u0412345.inf\" /install"), std::string::npos) << calls;
    EXPECT_NE(calls.find("inner.inf\" /install"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("hdmi.inf"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("chipset.inf"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("Setup.exe"), std::string::npos) << calls;  // the suite installer never runs
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\amd-unpack"));
    EXPECT_TRUE(FileExists(offer.localPath));  // kept for a manual install

    // A wrong digest: the package is downloaded again, refused and not left behind.
    offer.sha256 = std::wstring(64, L'0');
    EXPECT_EQ(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"The AMD package hash did not match the published hash.");
    EXPECT_FALSE(FileExists(offer.localPath + L".partial"));

    // The right digest is not enough: AMD's signature must be on the package too.
    offer.sha256 = FromUtf8(Sha256Hex(package));
    kit->refuseSignatures = true;
    EXPECT_EQ(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"The package is not signed by AMD, so it was deleted. It carries no signature.");
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\amd-package.exe"));
    EXPECT_EQ(kit->SignatureChecks().back(), kAmdPublisher);
}

TEST_F(GpuClean, AmdIndexThatPointsElsewhereOrPackagesThatAreNotInstallersAreRefused) {
    PlantAmd("", std::string(63, 'a'), L"https://drivers.example.com/whql-amd-software-adrenalin-edition-24.12.1-win10.exe");
    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    EXPECT_FALSE(offer.found);
    EXPECT_EQ(offer.error, L"The AMD index did not point at an official package.");

    // 63 digest characters: no digest, still found; a body that is not an installer is deleted.
    const std::string notInstaller(kPackageSize, 'x');
    PlantAmd(notInstaller, std::string(63, 'a'), server.Url(L"/files/amd-package.exe"));
    offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(offer.found) << ToUtf8(offer.error);
    EXPECT_TRUE(offer.sha256.empty());
    EXPECT_EQ(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"The download was not an installer package.");
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\amd-package.exe"));
}

TEST_F(GpuClean, AtMostFourDisplayInfsAreInstalledAndSevenZipWarningsAreAccepted) {
    const std::string inf = "ServiceBinary=%13%\\amdkmdag.sys\r\n";
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 5; ++i) entries.push_back({"Packages/Drivers/Display/D" + std::to_string(i) + "/u" + std::to_string(i) + ".inf", inf});
    const std::string package = FakeArchive(entries, true, kPackageSize);
    PlantAmd(package, Sha256Hex(package), server.Url(L"/files/amd-package.exe"));
    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok()) << ToUtf8(offer.error);
    ScopedEnvironment warnings(L"QV_FAKE_EXIT_7z", L"1");
    ScopedEnvironment restart(L"QV_FAKE_EXIT_pnputil", L"3010");
    ASSERT_TRUE(InstallGpuDriver(kit->Tools(), nullptr, offer).Ok()) << ToUtf8(offer.error);
    const std::string calls = kit->ToolCalls();
    size_t installs = 0;
    for (size_t at = calls.find("/add-driver"); at != std::string::npos; at = calls.find("/add-driver", at + 1)) ++installs;
    EXPECT_EQ(installs, 4u) << calls;

    // Every install refused: the last code is reported.
    ScopedEnvironment refused(L"QV_FAKE_EXIT_pnputil", L"5");
    EXPECT_EQ(InstallGpuDriver(kit->Tools(), nullptr, offer).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"The AMD display driver did not install (5).");
}

TEST_F(GpuClean, TheDriverFolderLivesInTheDataFolderThatOnlyAdministratorsCanWrite) {
    FakeFolderSecurity security;
    RemoveTree(DataDirectory());
    ASSERT_TRUE(EnsureFolder(DriverFolder() + L"\\nvidia-unpack"));
    ASSERT_TRUE(security.folders.count(DataDirectory()));
    EXPECT_FALSE(security.Judged(DataDirectory()).othersCanWrite);
    EXPECT_TRUE(security.Judged(DataDirectory()).ownerTrusted);
    EXPECT_FALSE(EnsureFolder(DriverFolder() + L"\\a\"b"));
}

// The 7-Zip project does not sign its installers: its published digest is what is trusted, and
// a signature that is there must hold as well.
TEST_F(GpuClean, SevenZipInstallsOnlyThePinnedInstallerAndNeverWithABrokenSignature) {
    std::wstring error;
    const std::wstring tool = BinDirectory() + L"\\fake_vendor_tool.exe";
    const std::wstring installer = DriverFolder() + L"\\7z2600-x64.exe";
    kit->PlaceSevenZipInstaller(tool, BinDirectory() + L"\\fake_vendor_tool_signed.exe");
    EXPECT_TRUE(EnsureSevenZip(kit->Tools(), nullptr, error).empty());
    EXPECT_EQ(error, L"The 7-Zip installer is not the one its publisher released (SHA-256 " +
                         FromUtf8(Sha256Hex(ReadFileBytes(tool))) + L"), so it was deleted.");
    EXPECT_FALSE(FileExists(kit->SevenZipPath()));
    EXPECT_FALSE(FileExists(installer));
    EXPECT_EQ(kit->ToolCalls().find("/S"), std::string::npos) << kit->ToolCalls();

    kit->PlaceSevenZipInstaller(BinDirectory() + L"\\fake_vendor_tool_tampered.exe");
    EXPECT_TRUE(EnsureSevenZip(kit->Tools(), nullptr, error).empty());
    EXPECT_EQ(error.rfind(L"The 7-Zip installer carries a signature Windows does not accept, so it was deleted. Windows did not "
                          L"accept its signature (0x",
                          0),
              0u)
        << ToUtf8(error);
    EXPECT_FALSE(FileExists(kit->SevenZipPath()));
    EXPECT_FALSE(FileExists(installer));

    TempFolder folder;
    const std::wstring notAProgram = folder.Path() + L"\\not-a-program.exe";
    ASSERT_TRUE(WriteFileBytes(notAProgram, "MZ and then nothing a program needs"));
    kit->PlaceSevenZipInstaller(notAProgram);
    EXPECT_TRUE(EnsureSevenZip(kit->Tools(), nullptr, error).empty());
    EXPECT_EQ(error, L"The 7-Zip installer is not a 64-bit Windows program, so it was deleted.");

    for (const wchar_t* name : {L"fake_vendor_tool_signed.exe", L"fake_vendor_tool.exe"}) {
        DeleteFileW(kit->SevenZipPath().c_str());
        kit->PlaceSevenZipInstaller(BinDirectory() + L"\\" + name);
        EXPECT_EQ(EnsureSevenZip(kit->Tools(), nullptr, error), kit->SevenZipPath()) << ToUtf8(name) << " " << ToUtf8(error);
        EXPECT_FALSE(FileExists(installer));
    }
}

// A partial file someone put in the driver folder first (keeping a second name for it) is
// never the file that becomes the package: the download is a file of its own.
TEST_F(GpuClean, APartialFileLeftInTheDriverFolderIsNeverTheOneThatBecomesThePackage) {
    const std::string package = FakeArchive({{"setup.exe", "", true}}, true, kPackageSize);
    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), package);
    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(offer.found) << ToUtf8(offer.error);
    ASSERT_TRUE(EnsureFolder(DriverFolder()));
    const std::wstring partial = DriverFolder() + L"\\566.36-desktop.exe.partial";
    ASSERT_TRUE(WriteFileBytes(partial, "planted"));
    const std::wstring secondName = DataDirectory() + L"\\kept-by-someone-else";
    ASSERT_TRUE(CreateHardLinkW(secondName.c_str(), partial.c_str(), nullptr));
    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok()) << ToUtf8(offer.error);
    EXPECT_TRUE(ReadFileBytes(offer.localPath) == package);
    EXPECT_EQ(ReadFileBytes(secondName), "planted");
    DeleteFileW(secondName.c_str());
}

// A work folder that cannot be made new (a program holds a file in it) stops the step with a
// clear message rather than unpacking on top of what is there.
TEST_F(GpuClean, AWorkFolderThatCannotBeEmptiedStopsTheInstall) {
    const std::string package = FakeArchive({{"setup.exe", "", true}}, true, kPackageSize);
    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), package);
    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok()) << ToUtf8(offer.error);
    const std::wstring unpack = DriverFolder() + L"\\nvidia-unpack";
    ASSERT_TRUE(EnsureFolder(unpack));
    const std::wstring stale = unpack + L"\\setup.exe";
    ASSERT_TRUE(WriteFileBytes(stale, "MZ left from before"));
    {
        const UniqueKernelHandle held = AdoptFileHandle(CreateFileW(stale.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(InstallGpuDriver(kit->Tools(), nullptr, offer).Which(), Outcome::Kind::Failed);
        EXPECT_EQ(offer.error, L"The work folder " + unpack + L" could not be emptied, so nothing was put there. Close any program using it and try again.");
    }
    EXPECT_EQ(kit->ToolCalls().find("setup.exe\" -s"), std::string::npos);
    // Once it is free, the stale file is gone and the package's own setup runs.
    ASSERT_TRUE(InstallGpuDriver(kit->Tools(), nullptr, offer).Ok()) << ToUtf8(offer.error);
    EXPECT_NE(kit->ToolCalls().find("setup.exe\" -s"), std::string::npos);
}

// A setup that cannot be started is reported with the reason Windows gave for that start.
TEST_F(GpuClean, ASetupThatCannotStartIsReportedWithItsOwnError) {
    const std::string package = FakeArchive({{"setup.exe", "MZ but not a program Windows can start"}}, true, kPackageSize);
    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), package);
    GpuDriverOffer offer = FindDriverOffer(kit->Tools(), nullptr, stop);
    ASSERT_TRUE(DownloadGpuDriver(kit->Tools(), nullptr, offer, stop).Ok()) << ToUtf8(offer.error);
    EXPECT_EQ(InstallGpuDriver(kit->Tools(), nullptr, offer).Which(), Outcome::Kind::Failed);
    EXPECT_EQ(offer.error, L"NVIDIA setup did not start (193).");
}

TEST(DriverSignature, TheRealCheckRefusesAnUnsignedProgram) {
    std::wstring error;
    EXPECT_FALSE(VerifyPublisherSignature(HeldFile(BinDirectory() + L"\\fake_vendor_tool.exe"), kNvidiaPublisher, error));
    EXPECT_EQ(error, L"It carries no signature.");
    EXPECT_FALSE(VerifyPublisherSignature(HeldFile(BinDirectory() + L"\\no-such-file.exe"), kNvidiaPublisher, error));
    // Signed, but by someone else: the signer's name decides.
    EXPECT_FALSE(VerifyPublisherSignature(HeldFile(BinDirectory() + L"\\fake_vendor_tool_signed.exe"), kNvidiaPublisher, error));
    EXPECT_EQ(error, L"It is signed by Quorvantis Test Signer, not NVIDIA Corporation.");
    EXPECT_TRUE(VerifyPublisherSignature(HeldFile(BinDirectory() + L"\\fake_vendor_tool_signed.exe"), L"Quorvantis Test Signer", error))
        << ToUtf8(error);
}

namespace {

bool WaitForPhase(const Workflow& flow, int phase, uint32_t timeoutMs = 60000) {
    return WaitUntil([&] { return flow.GpuCleanPhase() == phase && !flow.Busy(SlotGpuDriver); }, timeoutMs);
}

}  // namespace

// The window's GPU Clean jobs move through their phases with the offer, the download's progress
// and the install, and a failed download keeps its reason for the screen.
TEST_F(GpuClean, TheWindowsJobsWalkThePhasesFromLookupToInstalled) {
    const std::string package = FakeArchive({{"setup.exe", "", true}}, true, kPackageSize);
    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), package);
    GuiHooks hooks;
    Workflow flow(hooks, nullptr);
    flow.SetDriverTools(&kit->Tools());

    flow.BeginGpuLookup();
    ASSERT_TRUE(WaitForPhase(flow, GpuPhaseFound)) << flow.GpuCleanPhase() << " " << ToUtf8(flow.GpuStatusText());
    EXPECT_EQ(flow.GpuOffer().version, L"566.36");

    flow.BeginGpuDownload();
    ASSERT_TRUE(WaitForPhase(flow, GpuPhaseDownloaded)) << ToUtf8(flow.GpuStatusText());
    StateView view;
    flow.StateOf(SlotGpuDriver).Snapshot(view);
    EXPECT_DOUBLE_EQ(view.progress.fraction, 1.0);
    EXPECT_EQ(flow.GpuOffer().localPath, DriverFolder() + L"\\566.36-desktop.exe");

    flow.BeginGpuInstall();
    ASSERT_TRUE(WaitForPhase(flow, GpuPhaseInstalled)) << ToUtf8(flow.GpuStatusText());
    EXPECT_EQ(flow.State(SlotGpuDriver), StepFinished);

    // A new lookup, then a download whose package has gone: failed, with the reason.
    ASSERT_TRUE(DeleteFileW(flow.GpuOffer().localPath.c_str()));
    server.PlaceFile(L"566.36-desktop.exe", "");
    PlantNvidia(server.Url(L"/files/566.36-desktop.exe"), "");
    flow.BeginGpuLookup();
    ASSERT_TRUE(WaitForPhase(flow, GpuPhaseFound));
    flow.BeginGpuDownload();
    ASSERT_TRUE(WaitForPhase(flow, GpuPhaseFailed));
    EXPECT_EQ(flow.GpuStatusText(), L"The download failed. The download was not an installer package.");
}
