// The shipped executable, started as a user would start it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/usage.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "support/test_support.h"

namespace {

std::wstring ProgramPath() { return BinDirectory() + L"\\Quorvantis.exe"; }

// Files and pipes receive text-mode output: UTF-8 with CR LF.
std::string AsFileText(const std::wstring& text) {
    std::string bytes;
    for (const char c : ToUtf8(text)) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
}

class Program : public testing::Test {
protected:
    void SetUp() override { ClearProgramLog(); }

    static std::wstring LogPath() { return ProgramLogPath(); }
    static std::string Log() { return ReadProgramLog(); }
};

}  // namespace

TEST_F(Program, VersionPrintsVersionPublisherAndAddress) {
    const ProgramRun run = RunProgram(ProgramPath(), L"--version");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out, "Quorvantis 2.6.2\r\nFenmarch Systems\r\nhttps://www.fenmarch.com/quorvantis\r\n");
}

TEST_F(Program, HelpPrintsTheUsageWithThisMachinesLogPath) {
    const ProgramRun run = RunProgram(ProgramPath(), L"--help");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out, AsFileText(UsageText(LogPath())));
    EXPECT_EQ(run.out.find("\xC2\xB7"), run.out.find("Fenmarch Systems  ") + 18) << "the middle dot survives as UTF-8";
}

TEST_F(Program, BadSwitchLogsTheErrorThenPrintsUsageAndExitsOne) {
    const ProgramRun run = RunProgram(ProgramPath(), L"--benchmark --bogus");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.out, AsFileText(UsageText(LogPath())));
    const std::string log = Log();
    EXPECT_NE(log.find("  ERROR: Unknown argument: --bogus (try --help)\r\n"), std::string::npos) << log;
}

TEST_F(Program, NothingIsWrittenToTheMachineByABadCommandLine) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorvantis");
    EXPECT_EQ(RunProgram(ProgramPath(), L"--install --resolution 0").exitCode, 1u);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorvantis", 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST(ProgramFile, CarriesVersion2620AndAManifestThatDoesNotDemandElevation) {
    const std::wstring path = BinDirectory() + L"\\Quorvantis.exe";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(info->dwFileVersionMS, (2u << 16) | 6u);
    EXPECT_EQ(info->dwFileVersionLS, (2u << 16) | 0u);

    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC resource = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, resource)));
    const std::string manifest(bytes, SizeofResource(image, resource));
    FreeLibrary(image);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
}

TEST_F(Program, BenchmarkOnWineMeasuresTheOnePeriodItCanAndChangesNothing) {
    // Wine's kernel holds 1 ms whatever is asked, so every finer-grained candidate is masked.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorvantis");
    const ProgramRun run =
        RunProgram(ProgramPath(), L"--benchmark --fidelity low --from 10000 --to 10050 --step 10", 120000);
    EXPECT_EQ(run.exitCode, 0u);
    const std::string log = Log();
    EXPECT_NE(log.find("Each candidate is requested with NtSetTimerResolution"), std::string::npos);
    EXPECT_NE(log.find("\nSelected: 10000 (1.0000 ms), score "), std::string::npos) << log;
    EXPECT_NE(log.find("Nothing was changed. Run with no arguments (or --install) to hold 1.0000 ms permanently"),
              std::string::npos);
    EXPECT_NE(log.find("skipped: another process held 1.0000 ms"), std::string::npos);
    const size_t at = log.find("per-candidate data: ");
    ASSERT_NE(at, std::string::npos);
    const std::string path = log.substr(at + 20, log.find("\r\n", at) - at - 20);
    EXPECT_EQ(ReadFileBytes(FromUtf8(path)).rfind("phase,requested_units,", 0), 0u);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorvantis", 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(Program, BenchmarkWithAnUnwritableDataDirectoryStillSucceeds) {
    // A file where the data directory should be: neither the log nor the scan file can be written.
    const std::wstring data = LogPath().substr(0, LogPath().rfind(L'\\'));
    const std::wstring aside = data + L".qvtest";
    MoveFileExW(data.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING);
    CloseHandle(CreateFileW(data.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const ProgramRun run =
        RunProgram(ProgramPath(), L"--benchmark --fidelity low --from 10000 --to 10020 --step 10", 120000);
    DeleteFileW(data.c_str());
    MoveFileExW(aside.c_str(), data.c_str(), 0);
    EXPECT_EQ(run.exitCode, 0u);
}

TEST_F(Program, ALibraryPlantedBesideTheProgramIsNeverLoaded) {
    // A copy in a folder any user can write (Downloads), with libraries the elevated program
    // would otherwise load from there (those it loads itself, and those Windows resolves for its
    // import table before its first line runs), and Wine told to prefer files over its own.
    TempFolder downloads;
    const std::wstring program = downloads.File(L"Quorvantis.exe");
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), program.c_str(), FALSE));
    // (Not bcrypt or crypt32: Wine's own winhttp loads them, and Wine, unlike Windows, resolves
    // its system libraries' imports beside the program too.)
    const wchar_t* modules[] = {L"powrprof", L"nvapi64", L"srclient", L"version", L"winhttp", L"dwrite"};
    const std::wstring overrides = L"Software\\Wine\\AppDefaults\\Quorvantis.exe\\DllOverrides";
    for (const wchar_t* module : modules) {
        ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\planted.dll").c_str(), downloads.File((std::wstring(module) + L".dll").c_str()).c_str(), FALSE));
        RegSetKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), module, REG_SZ, L"native,builtin", sizeof(L"native,builtin"));
    }
    const std::wstring marker = downloads.File(L"loaded.txt");
    const ScopedEnvironment planted(L"QV_PLANTED_MARKER", marker.c_str());
    const ProgramRun health = RunProgram(program, L"--health", 120000);
    // The update check reads versions, hashes and talks HTTPS: each of those libraries is called.
    // (Statically imported, the program would have bound its calls to the planted stand-ins,
    // which export nothing, and failed at the first of them.)
    const ProgramRun update = RunProgram(program, L"--check-update", 120000);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Quorvantis.exe");
    EXPECT_EQ(health.exitCode, 0u);
    EXPECT_NE((update.out + update.err).find("fenmarch.com"), std::string::npos) << update.out << update.err;
    std::string loaded = ReadFileBytes(marker);
    for (char& c : loaded) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const wchar_t* module : modules) {
        // Wine's own advapi32 imports version.dll, and Wine (unlike Windows, which resolves the
        // imports of its KnownDLLs from the system folder) resolves that import beside the program;
        // the program itself never uses that copy.
        if (std::wstring(module) == L"version") continue;
        EXPECT_EQ(loaded.find("\\" + ToUtf8(module) + ".dll"), std::string::npos) << "a planted library was loaded: " << loaded;
    }
}
