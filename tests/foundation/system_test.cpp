#include "foundation/system.h"
#include "foundation/text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/child_process.h"
#include "foundation/elevation.h"
#include "foundation/environment_block.h"
#include "foundation/files.h"
#include "foundation/installer.h"
#include "foundation/state.h"
#include "support/fakes.h"
#include "support/test_support.h"
#include "support/wait.h"

namespace {

constexpr const wchar_t* kScratchKey = L"SOFTWARE\\QuorvantisTests\\Scratch";

// Tests write the real registry of the test prefix; each leaves it as it found it.
class Registry : public testing::Test {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuorvantisTests");
        RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\QuorvantisTests");
        for (const wchar_t* name : {L"TestDword", L"TestString", L"TestTyped"}) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kStateKey, name);
        }
    }

    static void SetRaw(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetKeyValueW(root, subkey, name, type, data, size), ERROR_SUCCESS);
    }
};

}  // namespace

TEST_F(Registry, DwordRoundTripCreatesMissingKeys) {
    uint32_t value = 0;
    EXPECT_FALSE(ReadDword(kScratchKey, L"Missing", value));
    ASSERT_TRUE(WriteDword(RegRoot::LocalMachine, kScratchKey, L"Value", 0xFFFFFFFFu));
    ASSERT_TRUE(ReadDword(kScratchKey, L"Value", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);

    ASSERT_TRUE(WriteDword(RegRoot::CurrentUser, kScratchKey, L"PerUser", 7));
    EXPECT_FALSE(ReadDword(kScratchKey, L"PerUser", value)) << "ReadDword reads the machine hive only";
    ASSERT_TRUE(ReadDwordIn(RegRoot::CurrentUser, kScratchKey, L"PerUser", value));
    EXPECT_EQ(value, 7u);
}

TEST_F(Registry, ValuesOfAnotherTypeReadAsMissing) {
    const wchar_t text[] = L"5070";
    SetRaw(HKEY_LOCAL_MACHINE, kScratchKey, L"AsString", REG_SZ, text, sizeof(text));
    const BYTE four[4] = {1, 2, 3, 4};
    SetRaw(HKEY_LOCAL_MACHINE, kScratchKey, L"AsBinary", REG_BINARY, four, sizeof(four));
    const ULONGLONG wide = 5;
    SetRaw(HKEY_LOCAL_MACHINE, kScratchKey, L"AsQword", REG_QWORD, &wide, sizeof(wide));
    uint32_t value = 99;
    EXPECT_FALSE(ReadDword(kScratchKey, L"AsString", value));
    EXPECT_FALSE(ReadDword(kScratchKey, L"AsBinary", value));
    EXPECT_FALSE(ReadDword(kScratchKey, L"AsQword", value));
    EXPECT_EQ(value, 99u);
}

TEST_F(Registry, StateKeyDwordsAndStringsWithTheNullCounted) {
    WriteStateDword(L"TestDword", 5070);
    uint32_t value = 0;
    ASSERT_TRUE(ReadStateDword(L"TestDword", value));
    EXPECT_EQ(value, 5070u);

    ASSERT_TRUE(WriteStateString(L"TestString", L"E9A42B02-D5DF-448D-AA00-03F14749EB61"));
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kStateKey, L"TestString", RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                           &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, (36u + 1u) * sizeof(wchar_t));
    std::wstring text;
    ASSERT_TRUE(ReadStateString(L"TestString", text));
    EXPECT_EQ(text, L"E9A42B02-D5DF-448D-AA00-03F14749EB61");

    // A DWORD rewritten by hand as a string is missing for every reader.
    SetRaw(HKEY_LOCAL_MACHINE, kStateKey, L"TestTyped", REG_SZ, L"1", 4);
    EXPECT_FALSE(ReadStateDword(L"TestTyped", value));
    EXPECT_FALSE(ReadStateString(L"TestDword", text));
}

TEST(GuidText, UpperCaseWithoutBraces) {
    const GUID guid{0xE9A42B02, 0xD5DF, 0x448D, {0xAA, 0x00, 0x03, 0xF1, 0x47, 0x49, 0xEB, 0x61}};
    EXPECT_EQ(GuidText(guid), L"E9A42B02-D5DF-448D-AA00-03F14749EB61");
}

TEST(Paths, TheEnvironmentCannotMoveTheProgramsFoldersOrTools) {
    // An elevated copy inherits variables a standard user sets; they must not steer it.
    const ScopedEnvironment files(L"ProgramFiles", L"D:\\Apps");
    const ScopedEnvironment data(L"ProgramData", L"D:\\Shared");
    const ScopedEnvironment root(L"SystemRoot", L"D:\\Fake");
    wchar_t system[260] = {};
    GetSystemDirectoryW(system, 260);
    EXPECT_EQ(_wcsicmp(InstalledExePath().c_str(), L"C:\\Program Files\\Quorvantis\\Quorvantis.exe"), 0)
        << InstalledExePath();
    EXPECT_EQ(_wcsicmp(DataDirectory().c_str(), L"C:\\ProgramData\\Quorvantis"), 0) << DataDirectory();
    EXPECT_EQ(PowerShellPath(), std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe");
    EXPECT_EQ(SystemToolPath(L"wbem\\wmic.exe"), std::wstring(system) + L"\\wbem\\wmic.exe");
    {
        const ScopedProgramFolders folders(L"D:\\Tests", L"D:\\TestApps");
        EXPECT_EQ(DataDirectory(), L"D:\\Tests\\Quorvantis");
        EXPECT_EQ(InstalledExePath(), L"D:\\TestApps\\Quorvantis\\Quorvantis.exe");
    }
}

TEST(Paths, ElevatedFlagGoesLast) {
    EXPECT_EQ(WithElevatedFlag({}), (std::vector<std::wstring>{L"--elevated"}));
    EXPECT_EQ(WithElevatedFlag({L"--install", L"--yes"}),
              (std::vector<std::wstring>{L"--install", L"--yes", L"--elevated"}));
}

// A standard user's profile script and a module named like a system one in their Documents must
// never load into the elevated program's PowerShell: it runs without profiles and with only the
// system's module folder, whatever the environment it inherited says.
TEST(RunPowerShell, NeitherTheUsersProfileNorTheirModulesLoad) {
    TempFolder root;
    const FakeTool powershell(PowerShellPath(), root.File(L"calls.txt"));
    const std::wstring userModules = root.File(L"Documents\\WindowsPowerShell\\Modules");
    ASSERT_TRUE(EnsureFolder(userModules + L"\\MMAgent"));
    const ScopedEnvironment modules(L"PSModulePath", (userModules + L";" + SystemToolPath(L"WindowsPowerShell\\v1.0\\Modules")).c_str());
    const ScopedEnvironment profile(L"QV_FAKE_PROFILE", L"1");
    const std::wstring marker = root.File(L"loaded.txt");
    const ScopedEnvironment planted(L"QV_PLANTED_MARKER", marker.c_str());
    RunPowerShell(L"Disable-MMAgent -MemoryCompression -ErrorAction SilentlyContinue", 20000);
    CapturePowerShell(L"(Get-MMAgent).MemoryCompression");
    EXPECT_FALSE(FileExists(marker)) << ReadFileBytes(marker);
}

// Whatever the user who started the program set in its environment (a .NET profiler for every
// managed program, a folder of theirs first on PATH, TEMP in their own folder) or chose as its
// current folder, a child gets the system's: each way a child is started, the child's own record
// shows none of it, its TEMP is a folder of its own that is gone once it has ended, and its
// current folder is the system folder or the one it was given.
TEST(ChildEnvironment, NothingPlantedReachesAChildHoweverItIsStarted) {
    TempFolder root;
    const FakeTool powercfg(SystemToolPath(L"powercfg.exe"), root.File(L"calls.txt"));
    const FakeTool fsutil(SystemToolPath(L"fsutil.exe"), root.File(L"calls.txt"));
    const FakeTool powershell(PowerShellPath(), root.File(L"calls.txt"));
    const std::wstring unpack = root.File(L"unpacked");
    ASSERT_TRUE(EnsureFolder(unpack));
    const std::wstring setup = unpack + L"\\setup.exe";
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\fake_vendor_tool.exe").c_str(), setup.c_str(), FALSE));
    const PlantedEnvironment planted;

    RunPowercfg(L"/list");
    RunCapture(SystemToolPath(L"fsutil.exe"), L"behavior query DisableDeleteNotify");
    RunPowerShell(L"Get-MMAgent", 20000);
    EXPECT_TRUE(RunInstaller(setup, L"setup.exe -s", unpack, 20000, true, true).started);

    EXPECT_EQ(planted.Seen(), L"") << planted.Record();
    const std::wstring record = FromUtf8(planted.Record());
    const std::wstring system = SystemDirectory();
    for (const wchar_t* tool : {L"powercfg", L"fsutil", L"powershell"}) {
        EXPECT_NE(record.find(std::wstring(tool) + L" cwd " + system), std::wstring::npos) << ToUtf8(tool) << "\n" << ToUtf8(record);
        EXPECT_NE(record.find(std::wstring(tool) + L" Path=" + system + L";"), std::wstring::npos) << ToUtf8(record);
    }
    EXPECT_NE(record.find(L"setup cwd " + unpack), std::wstring::npos) << ToUtf8(record);
    EXPECT_NE(record.find(L"powershell PSModulePath=" + system + L"\\WindowsPowerShell\\v1.0\\Modules\n"), std::wstring::npos)
        << ToUtf8(record);
    // Each child's temporary folder went with it.
    WIN32_FIND_DATAW entry{};
    const HANDLE left = FindFirstFileW((DataDirectory() + L"\\temp\\" + std::to_wstring(GetCurrentProcessId()) + L"-*").c_str(), &entry);
    EXPECT_EQ(left, INVALID_HANDLE_VALUE) << ToUtf8(entry.cFileName);
    if (left != INVALID_HANDLE_VALUE) FindClose(left);
}

// A program named by anything but a full path would be found relative to a folder or drive the
// user chose: a system folder that cannot be read must stop the start, not run "\\powercfg.exe"
// from the root of the current drive.
TEST(ChildEnvironment, OnlyAFullPathStarts) {
    EXPECT_FALSE(IsFullPath(L""));
    EXPECT_FALSE(IsFullPath(L"\\powercfg.exe"));
    EXPECT_FALSE(IsFullPath(L"powercfg.exe"));
    EXPECT_FALSE(IsFullPath(L"C:powercfg.exe"));
    EXPECT_TRUE(IsFullPath(L"C:\\Windows\\System32\\powercfg.exe"));
    EXPECT_TRUE(IsFullPath(L"\\\\?\\C:\\Windows\\System32\\powercfg.exe"));
    EXPECT_EQ(RunProcess(L"\\qv_child.exe", L"exit 0", 5000), static_cast<uint32_t>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(RunProcess(L"", L"exit 0", 5000), static_cast<uint32_t>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(RunCapture(L"qv_child.exe", L"bytes 3"), L"");
}

// Wine has neither elevation nor a shell window: the desk stands in for both, its shell a
// process of the test's own.
struct FakeDesk {
    static inline bool elevated = false;
    static inline DWORD shell = 0;
    static bool IsElevated() { return elevated; }
    static void* UnelevatedShell() {
        return shell == 0 ? nullptr : OpenProcess(PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell);
    }
};

// Notepad's Open dialog is a file browser for whoever sits at the desk: it is started as the
// desktop's own user, under the unelevated shell, or not at all.
TEST(Notepad, TheLogOpensInTheSystemsNotepadAsTheUserAtTheDeskOrNotAtAll) {
    const ElevationSeam desk{FakeDesk::IsElevated, nullptr, nullptr, FakeDesk::UnelevatedShell};
    SetElevationSeam(&desk);
    struct Restore {
        ~Restore() { SetElevationSeam(nullptr); }
    } restore;
    TempFolder root;
    const std::wstring notepad = SystemToolPath(L"notepad.exe");
    const FakeTool fake(notepad, root.File(L"calls.txt"));
    const std::wstring log = root.File(L"Quorvantis.log");
    const std::string expected = ToUtf8(L"\"" + notepad + L"\" \"" + log + L"\"\n");
    const auto calls = [&] {
        std::string text;
        WaitUntil([&] { return !(text = ReadFileBytes(root.File(L"calls.txt"))).empty(); }, 10000, 50);
        DeleteFileW(root.File(L"calls.txt").c_str());
        return text;
    };

    FakeDesk::elevated = false;
    ASSERT_TRUE(OpenInNotepad(log));
    EXPECT_EQ(calls(), expected);
    EXPECT_FALSE(OpenInNotepad(L"a\" & calc.exe"));

    // Elevated: the shell is its parent, so it runs with the shell's token, and nothing of this
    // process's environment reaches it.
    FakeDesk::elevated = true;
    {
        RunningProgram shell(ChildPath(), L"sleep 20000");
        ASSERT_TRUE(shell.Started());
        FakeDesk::shell = shell.Id();
        const PlantedEnvironment planted;
        ASSERT_TRUE(OpenInNotepad(log));
        EXPECT_EQ(calls(), expected);
        const std::string record = planted.Record();
        EXPECT_NE(record.find("notepad parent " + std::to_string(shell.Id()) + "\n"), std::string::npos) << record;
        EXPECT_EQ(record.find("COR_"), std::string::npos) << record;
        EXPECT_EQ(record.find(ToUtf8(L"\\bin;")), std::string::npos) << record;
    }

    // Elevated, with no unelevated shell to start it under: nothing starts.
    FakeDesk::shell = 0;
    EXPECT_FALSE(OpenInNotepad(log));
    EXPECT_FALSE(FileExists(root.File(L"calls.txt")));
    FakeDesk::elevated = false;
}

TEST(RunPowerShell, WrapsTheCommandInItsFixedArguments) {
    // A fake PowerShell in the system folder records how it was started.
    TempFolder root;
    const std::wstring exe = PowerShellPath();
    const FakeTool powershell(exe, root.File(L"calls.txt"));
    const ScopedEnvironment code(L"QV_FAKE_TOOL_EXIT", L"3");

    EXPECT_EQ(RunPowerShell(L"Enable-ComputerRestore -Drive 'C:\\'", 20000), 3u);
    EXPECT_EQ(ReadFileBytes(root.File(L"calls.txt")),
              ToUtf8(L"\"" + exe +
                     L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"Enable-ComputerRestore -Drive "
                     L"'C:\\'\"\n"));
}
