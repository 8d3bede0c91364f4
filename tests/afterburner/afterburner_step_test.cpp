// The Afterburner step against the local vendor server and fake programs: the pinned archive
// checked and installed, the configuration edited, the scanner driven through a scripted scan,
// the curve applied through the shared memory and copied onto profile 1, and the logon tasks.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "afterburner/afterburner.h"
#include "foundation/log.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "driver/vendor_fetch.h"
#include "support/driver_test_kit.h"
#include "support/fakes.h"
#include "support/vendor_test_server.h"
#include "support/wait.h"

namespace {

class AfterburnerStep : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << ToUtf8(server.Problem());
        kit = std::make_unique<DriverTestKit>();
    }
    std::wstring Folder() const { return kit->ProgramsX86() + L"\\MSI Afterburner"; }
    std::string Config() const { return ReadFileBytes(Folder() + L"\\MSIAfterburner.cfg"); }
    // Afterburner installed beforehand by its own setup, with RivaTuner beside it; the RivaTuner program.
    std::wstring InstallBeforehand() const {
        TempFolder setupFolder;
        const std::wstring setup = setupFolder.File(L"MSIAfterburnerSetup466.exe");
        EXPECT_TRUE(CopyFileW((BinDirectory() + L"\\fake_afterburner.exe").c_str(), setup.c_str(), FALSE));
        EXPECT_EQ(RunProgram(setup, L"/S").exitCode, 0u);
        const std::wstring rtssFolder = kit->ProgramsX86() + L"\\RivaTuner Statistics Server";
        CreateDirectoryW(rtssFolder.c_str(), nullptr);
        EXPECT_TRUE(WriteFileBytes(rtssFolder + L"\\RTSS.exe", "MZ"));
        return rtssFolder + L"\\RTSS.exe";
    }

    VendorTestServer& server = VendorTestServer::Get();
    std::unique_ptr<DriverTestKit> kit;
};

}  // namespace

TEST_F(AfterburnerStep, AFreshInstallScansAndTheLogonTaskAppliesProfile1) {
    std::wstring digest = FromUtf8(kit->PlaceAfterburnerArchive());
    for (wchar_t& c : digest) c = static_cast<wchar_t>(towupper(c));  // the pinned digest in other letter case
    kit->Afterburner().archiveSha256 = digest;
    {
        // Neither the installers nor Afterburner and its scanner see what the user planted.
        const PlantedEnvironment planted;
        std::wstring error;
        ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
        EXPECT_EQ(planted.Seen(), L"") << planted.Record();
    EXPECT_NE(planted.Record(), "") << "the children recorded what they were given";
    }

    const std::string calls = kit->ToolCalls();
    EXPECT_NE(calls.find("7z2600-x64.exe\" /S"), std::string::npos) << calls;  // 7-Zip first, to open the archive
    EXPECT_NE(calls.find("afterburner setup"), std::string::npos) << calls;
    EXPECT_NE(calls.find("scan pressed"), std::string::npos) << calls;
    EXPECT_NE(calls.find("afterburner applied"), std::string::npos) << calls;
    // The logon task: the highest run level, in the session of whoever is logged on.
    EXPECT_NE(calls.find("task Quorvantis Afterburner: runlevel=HighestAvailable user="), std::string::npos) << calls;
    EXPECT_NE(calls.find(" logon=InteractiveToken command=" + ToUtf8(Folder()) + "\\MSIAfterburner.exe arguments=-profile1 /s"),
              std::string::npos)
        << calls;
    EXPECT_EQ(calls.find("Quorvantis RivaTuner"), std::string::npos) << "no RTSS here";
    std::string left;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((DriverFolder() + L"\\afterburner-setup\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do left += ToUtf8(entry.cFileName) + " ";
        while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\afterburner-setup")) << left;
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\MSIAfterburnerSetup466.zip"));

    // Every key the file had is set; the one it lacked stays absent.
    const std::string config = Config();
    EXPECT_NE(config.find("StartWithWindows = 1\r\n"), std::string::npos) << config;
    EXPECT_NE(config.find("StartupDelay = 0\r\n"), std::string::npos) << config;
    EXPECT_NE(config.find("EnableServer = 1\r\n"), std::string::npos) << config;
    EXPECT_EQ(config.find("StartupViaTaskScheduler"), std::string::npos) << config;

    // Profile 1 of the GPU the shared memory named, not of the other NVIDIA card whose profile
    // Afterburner happened to write last.
    const std::string profile =
        ReadFileBytes(Folder() + L"\\Profiles\\VEN_10DE&DEV_2786&SUBSYS_51431458&REV_A1&BUS_1&DEV_0&FN_0.cfg");
    EXPECT_NE(profile.find("[Profile1]\r\nFormat=2\r\nCoreClkBoost=105000\r\nVFCurve=000002007F000000\r\nMemClkBoost=0\r\n"),
              std::string::npos)
        << profile;
    const std::string other = ReadFileBytes(Folder() + L"\\Profiles\\VEN_10DE&DEV_2882&SUBSYS_00000000&REV_A1&BUS_2&DEV_0&FN_0.cfg");
    EXPECT_EQ(other.find("[Profile1]"), std::string::npos) << other;

    // The next logon: the task starts Afterburner, which asks for administrator rights, with profile 1.
    const ProgramRun logon = RunProgram(kit->Afterburner().schtasks, L"/Run /TN \"Quorvantis Afterburner\"");
    EXPECT_EQ(logon.exitCode, 0u);
    WaitUntil([] { return FindWindowW(nullptr, L"MSI Afterburner v4.6.6") != nullptr; }, 5000, 50);
    const HWND started = FindWindowW(nullptr, L"MSI Afterburner v4.6.6");
    EXPECT_NE(started, nullptr);
    if (started != nullptr) PostMessageW(started, WM_CLOSE, 0, 0);
    EXPECT_NE(kit->ToolCalls().find("afterburner started -profile1 /s"), std::string::npos) << kit->ToolCalls();
    WaitUntil([] { return FindWindowW(nullptr, L"MSI Afterburner v4.6.6") == nullptr; }, 5000, 50);
}

TEST_F(AfterburnerStep, AlreadyInstalledNeedsNoDownloadAndWithoutACurveStartsWithItsOwnSettings) {
    const std::wstring rtss = InstallBeforehand();
    const size_t downloads = server.RequestsContaining("GET /files/afterburner.zip");

    // No NVIDIA driver: no scan.
    kit->Afterburner().nvapi = kit->ProgramsX86() + L"\\missing\\nvapi64.dll";
    std::wstring error;
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    std::string calls = kit->ToolCalls();
    EXPECT_EQ(calls.find("scanner started"), std::string::npos) << calls;
    EXPECT_NE(calls.find("MSIAfterburner.exe arguments=/s"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("-profile1"), std::string::npos) << calls;
    EXPECT_NE(calls.find("task Quorvantis RivaTuner: runlevel=HighestAvailable"), std::string::npos) << calls;
    // At normal priority, on battery as well: left out, Task Scheduler would start it below normal.
    EXPECT_NE(calls.find("task Quorvantis RivaTuner: DisallowStartIfOnBatteries=false StopIfGoingOnBatteries=false "
                         "ExecutionTimeLimit=PT0S Priority=5"),
              std::string::npos)
        << calls;
    EXPECT_EQ(server.RequestsContaining("GET /files/afterburner.zip"), downloads);

    // A scan that fails leaves profile 1 alone and the task without it.
    kit->Afterburner().nvapi = rtss;  // any file that exists
    ScopedEnvironment failing(L"QV_FAKE_SCAN_SCRIPT", L"Start scanning|Scanning point 1 of 3|Scan failed");
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    calls = kit->ToolCalls();
    EXPECT_NE(calls.find("scan pressed"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("afterburner applied"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("-profile1"), std::string::npos) << calls;
}

// A user may install Afterburner in a folder of their choosing: its installer's own record finds
// it, and nothing is downloaded or installed a second time.
TEST_F(AfterburnerStep, AfterburnerInAnotherFolderIsFoundThroughItsInstallersRecord) {
    TempFolder elsewhere;
    const std::wstring setup = elsewhere.File(L"MSIAfterburnerSetup466.exe");
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\fake_afterburner.exe").c_str(), setup.c_str(), FALSE));
    const std::wstring chosen = elsewhere.Path() + L"\\Games\\MSI Afterburner";
    ASSERT_EQ(RunProgram(setup, L"/S /D=" + chosen).exitCode, 0u);
    CreateDirectoryW((kit->ProgramsX86() + L"\\RivaTuner Statistics Server").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(kit->ProgramsX86() + L"\\RivaTuner Statistics Server\\RTSS.exe", "MZ"));
    EXPECT_EQ(AfterburnerExecutable(kit->Afterburner()), chosen + L"\\MSIAfterburner.exe");
    const size_t downloads = server.RequestsContaining("GET /files/afterburner.zip");
    kit->Afterburner().nvapi = kit->ProgramsX86() + L"\\missing\\nvapi64.dll";
    std::wstring error;
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    EXPECT_EQ(server.RequestsContaining("GET /files/afterburner.zip"), downloads);
    const std::string calls = kit->ToolCalls();
    EXPECT_EQ(calls.find("afterburner setup"), calls.rfind("afterburner setup")) << "installed once, by the user" << calls;
    EXPECT_NE(ReadFileBytes(chosen + L"\\MSIAfterburner.cfg").find("StartWithWindows = 1"), std::string::npos);
}

// For a standard account "highest available" is a standard token, and Afterburner will not start
// without administrator rights: no task is made that could never start it, and the log says why.
TEST_F(AfterburnerStep, AStandardAccountGetsNoAfterburnerTaskThatCouldNeverStartIt) {
    InstallBeforehand();
    kit->Afterburner().nvapi = kit->ProgramsX86() + L"\\missing\\nvapi64.dll";
    kit->standardUser = true;
    std::wstring error;
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    const std::string calls = kit->ToolCalls();
    EXPECT_EQ(calls.find("task Quorvantis Afterburner"), std::string::npos) << calls;
    EXPECT_NE(calls.find("task Quorvantis RivaTuner: runlevel=HighestAvailable"), std::string::npos) << calls;
    const std::string log = ReadFileBytes(LogFilePath());
    EXPECT_NE(log.find("is a standard account: a task at sign-in cannot give Afterburner the administrator rights"), std::string::npos)
        << log;
}

// A logon task starts Afterburner and RivaTuner with administrator rights at every logon: a
// program in a folder that someone else may change (their own install, or one under the root of
// a drive) is not given one; what is under folders only administrators may change is.
TEST_F(AfterburnerStep, NoLogonTaskStartsAProgramInAFolderOthersCanChange) {
    InstallBeforehand();
    kit->Afterburner().nvapi = kit->ProgramsX86() + L"\\missing\\nvapi64.dll";

    FakeFolderSecurity security;
    security.folders[L"C:\\"] = FakeFolderSecurity::Protected();
    // Afterburner installed by another user's program; RivaTuner as an administrator installs it.
    security.folders[Folder()] = FakeFolderSecurity::MadeBy(Principal::Other, true);
    std::wstring error;
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    const std::string calls = kit->ToolCalls();
    EXPECT_EQ(calls.find("task Quorvantis Afterburner"), std::string::npos) << calls;
    EXPECT_NE(calls.find("task Quorvantis RivaTuner: runlevel=HighestAvailable"), std::string::npos) << calls;

    // Its own folder is fine, but the one above lets others move it away and put theirs there.
    security.folders[Folder()] = FakeFolderSecurity::Protected();
    FolderFacts above = FakeFolderSecurity::Protected();
    above.entries.push_back({Principal::Other, EntryKind::Allow, 0x1301BF});
    security.folders[kit->ProgramsX86()] = above;
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    EXPECT_EQ(kit->ToolCalls().find("task Quorvantis Afterburner"), std::string::npos) << kit->ToolCalls();
}

TEST_F(AfterburnerStep, AnArchiveThatDoesNotMatchItsDigestIsRemovedAndNothingIsInstalled) {
    kit->PlaceAfterburnerArchive();
    kit->Afterburner().archiveSha256 = std::wstring(64, L'0');
    std::wstring error;
    EXPECT_FALSE(InstallAfterburner(kit->Afterburner(), nullptr, error));
    EXPECT_EQ(error, L"The Afterburner download did not match the published checksum.");
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\MSIAfterburnerSetup466.zip"));
    EXPECT_EQ(kit->ToolCalls().find("afterburner setup"), std::string::npos);
}

TEST_F(AfterburnerStep, StoppingDuringTheScanEndsBothProgramsAndTheStep) {
    TempFolder setupFolder;
    const std::wstring setup = setupFolder.File(L"MSIAfterburnerSetup466.exe");
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\fake_afterburner.exe").c_str(), setup.c_str(), FALSE));
    ASSERT_EQ(RunProgram(setup, L"/S").exitCode, 0u);
    std::wstring script = L"Start scanning";
    for (int i = 1; i <= 30; ++i) script += FormatText(L"|Scanning point %d of 30", i);
    ScopedEnvironment slow(L"QV_FAKE_SCAN_SCRIPT", script.c_str());
    RecordingFeed feed;
    feed.cancelFrom = 16;  // a few seconds into the scan
    const ScopedFeed current(&feed);
    std::wstring error;
    EXPECT_FALSE(InstallAfterburner(kit->Afterburner(), &feed, error));
    EXPECT_EQ(error, L"Stopped.");
    const std::string calls = kit->ToolCalls();
    EXPECT_NE(calls.find("scan pressed"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("afterburner applied"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("task Quorvantis"), std::string::npos) << "no logon task after a stop";
    EXPECT_EQ(FindWindowW(nullptr, L"MSI Overclocking Scanner v1.0.0"), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, L"MSI Afterburner v4.6.6"), nullptr);
    EXPECT_TRUE(feed.Logged(L"The OC scan is running."));
}

// Any program in the session can create Afterburner's shared memory first; an identifier that
// tries to leave the Profiles folder names no file, and the step writes nowhere but there.
TEST_F(AfterburnerStep, AnIdentifierFromTheSharedMemoryCannotLeadOutOfTheProfilesFolder) {
    TempFolder setupFolder;
    const std::wstring setup = setupFolder.File(L"MSIAfterburnerSetup466.exe");
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\fake_afterburner.exe").c_str(), setup.c_str(), FALSE));
    ASSERT_EQ(RunProgram(setup, L"/S").exitCode, 0u);
    ScopedEnvironment planted(L"QV_FAKE_AB_GPU", L"VEN_10DE\\..\\..\\escaped");
    const std::wstring outside = kit->ProgramsX86() + L"\\escaped.cfg";
    const std::string text = "[Startup]\r\nFormat=2\r\nCoreClkBoost=1\r\nVFCurve=01\r\n";
    ASSERT_TRUE(WriteFileBytes(outside, text));
    std::wstring error;
    ASSERT_TRUE(InstallAfterburner(kit->Afterburner(), nullptr, error)) << ToUtf8(error);
    EXPECT_EQ(ReadFileBytes(outside), text);
    EXPECT_FALSE(FileExists(outside + L".quorvantis"));
    // The curve still reached the profile of the card Afterburner wrote.
    EXPECT_NE(ReadFileBytes(Folder() + L"\\Profiles\\VEN_10DE&DEV_2882&SUBSYS_00000000&REV_A1&BUS_2&DEV_0&FN_0.cfg").find("[Profile1]"),
              std::string::npos);
}

// The apply looks for Afterburner's window among all windows; a window of this process whose
// thread is busy must not hold it up (asking it for its title would wait for that thread).
TEST_F(AfterburnerStep, TheApplyDoesNotWaitForABusyWindowOfAnotherProgram) {
    TempFolder setupFolder;
    const std::wstring setup = setupFolder.File(L"MSIAfterburnerSetup466.exe");
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\fake_afterburner.exe").c_str(), setup.c_str(), FALSE));
    ASSERT_EQ(RunProgram(setup, L"/S").exitCode, 0u);
    RunningProgram afterburner(Folder() + L"\\MSIAfterburner.exe", L"");
    ASSERT_TRUE(afterburner.Started());
    WaitUntil([] { return FindWindowW(nullptr, L"MSI Afterburner v4.6.6") != nullptr; }, 5000, 50);
    std::atomic<bool> created{false};
    std::thread busy([&] {
        CreateWindowExW(0, L"STATIC", L"busy", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        created = true;
        Sleep(12000);  // never pumps its messages meanwhile
    });
    ASSERT_TRUE(WaitUntil([&] { return created.load(); }, 10000, 10));
    const ULONGLONG start = GetTickCount64();
    std::string identifier;
    EXPECT_TRUE(ApplyCurveThroughSharedMemory(afterburner.Id(), identifier));
    EXPECT_LT(GetTickCount64() - start, 6000u);
    busy.join();
    if (const HWND window = FindWindowW(nullptr, L"MSI Afterburner v4.6.6"); window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
}
