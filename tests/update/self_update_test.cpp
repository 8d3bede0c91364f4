// The self-update against the local server playing the publisher: the signed list, the verified
// download, and replacement on real files.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "driver/vendor_fetch.h"
#include "foundation/sha256.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "service/service_control.h"
#include "support/test_support.h"
#include "support/update_test_kit.h"
#include "support/vendor_test_server.h"
#include "update/self_update.h"

namespace {

class SelfUpdate : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << ToUtf8(server.Problem());
        ASSERT_TRUE(signer.Ready()) << "ECDSA P-256 keys could not be made";
        source.hosts = server.Publisher();
        source.publicKey = signer.PublicKey();
        release = Version270Executable();
        ASSERT_GT(release.size(), 1000u);
        server.PlaceFile(L"Quorvantis-2.7.0.exe", release);
        offered.version = L"2.7.0";
        offered.url = server.Url(L"/Quorvantis-2.7.0.exe");
        offered.sha256 = FromUtf8(Sha256Of(release));
        offered.size = release.size();
        offered.notes = L"Faster scans.";
    }
    static std::string Sha256Of(const std::string& bytes) {
        Sha256Hasher hasher;
        hasher.Add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return ToUtf8(hasher.Finish());
    }
    void Publish(const AppUpdate& update, const std::wstring& signature) {
        ASSERT_TRUE(server.PlaceFile(L"latest.json", UpdateListJson(update, signature)));
    }
    // The signed list published, and a place for a copy of the program built against this server
    // and this signer (told through its environment, which the copy inherits).
    struct ProgramCopy {
        ProgramCopy(const std::wstring& key, uint16_t port)
            : keyVariable(L"QV_TEST_UPDATE_KEY", key.c_str()),
              portVariable(L"QV_TEST_VENDOR_PORT", FormatText(L"%u", static_cast<unsigned>(port)).c_str()),
              path(folder.File(L"Quorvantis.exe")) {}
        ScopedEnvironment keyVariable, portVariable;
        TempFolder folder;
        std::wstring path;
    };
    std::unique_ptr<ProgramCopy> PublishForProgramCopy() {
        std::wstring hex;
        for (const uint8_t b : signer.PublicKey()) hex += FormatText(L"%02x", b);
        Publish(offered, signer.Sign(offered));
        return std::make_unique<ProgramCopy>(hex, server.Port());
    }
    bool Check(AppUpdate& found, std::wstring& error, const wchar_t* current = L"2.6.2") {
        return CheckForAppUpdate(source, current, found, cancel, error);
    }

    VendorTestServer& server = VendorTestServer::Get();
    UpdateSigner signer;
    UpdateSource source;
    std::string release;
    AppUpdate offered;
    std::atomic<bool> cancel{false};
};

}  // namespace

TEST_F(SelfUpdate, OnlyANewerListSignedByThePublisherIsOffered) {
    Publish(offered, signer.Sign(offered));
    AppUpdate found;
    std::wstring error;
    ASSERT_TRUE(Check(found, error)) << ToUtf8(error);
    EXPECT_EQ(found.version, L"2.7.0");
    EXPECT_EQ(found.notes, L"Faster scans.");
    EXPECT_GE(server.RequestsContaining("GET /quorvantis/latest.json?current=2.6.2"), 1u);
    EXPECT_FALSE(Check(found, error, L"2.7.0"));  // the same version: nothing, and no error
    EXPECT_TRUE(error.empty()) << ToUtf8(error);

    // A list changed after signing, signed by someone else, or not signed at all.
    AppUpdate tampered = offered;
    tampered.url = server.Url(L"/Quorvantis-evil.exe");
    Publish(tampered, signer.Sign(offered));
    EXPECT_FALSE(Check(found, error));
    EXPECT_EQ(error, L"The update list is not signed by the publisher, so it was ignored.");
    UpdateSigner stranger;
    Publish(offered, stranger.Sign(offered));
    EXPECT_FALSE(Check(found, error));
    EXPECT_EQ(error, L"The update list is not signed by the publisher, so it was ignored.");
    Publish(offered, L"");
    EXPECT_FALSE(Check(found, error));
    EXPECT_FALSE(error.empty());

    // Upper-case digest with spaces is the same digest once normalised; the signature still holds.
    AppUpdate spaced = offered;
    std::wstring upper;
    for (size_t i = 0; i < offered.sha256.size(); ++i) upper += static_cast<wchar_t>(towupper(offered.sha256[i])) + std::wstring(i % 8 == 7 ? L" " : L"");
    spaced.sha256 = upper;
    Publish(spaced, signer.Sign(offered));
    EXPECT_TRUE(Check(found, error)) << ToUtf8(error);

    ASSERT_TRUE(server.PlaceFile(L"latest.json", "[1]"));
    EXPECT_FALSE(Check(found, error));
    EXPECT_EQ(error, L"The update list is not a JSON object.");
    ASSERT_TRUE(server.PlaceFile(L"latest.json", "{\"version\":"));
    EXPECT_FALSE(Check(found, error));
    EXPECT_EQ(error, L"The update list is not valid JSON.");
    AppUpdate elsewhere = offered;
    elsewhere.url = server.ForeignUrl(L"/Quorvantis-2.7.0.exe");
    Publish(elsewhere, signer.Sign(elsewhere));
    EXPECT_FALSE(Check(found, error));
    EXPECT_EQ(error, L"The update address is not on localhost.");
}

TEST_F(SelfUpdate, TheDownloadMustMatchItsDigestSizeMachineAndVersion) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Quorvantis-update.exe");
    // Whatever was at the path before is never the file that gets verified.
    ASSERT_TRUE(WriteFileBytes(file, "planted"));
    std::wstring error;
    HeldFile held;
    ASSERT_TRUE(DownloadAndVerifyUpdate(source, offered, file, held, nullptr, cancel, error)) << ToUtf8(error);
    ASSERT_TRUE(held.Held());
    EXPECT_TRUE(ReadFileBytes(file) == release);
    // Between verification and the last copy nobody can change, rename or delete the staged file.
    EXPECT_EQ(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(file.c_str()));
    EXPECT_FALSE(MoveFileExW(file.c_str(), folder.File(L"moved.exe").c_str(), 0));
    held.Release();

    const auto expectRefused = [&](const AppUpdate& update, const std::wstring& message) {
        EXPECT_FALSE(DownloadAndVerifyUpdate(source, update, file, held, nullptr, cancel, error)) << ToUtf8(message);
        EXPECT_EQ(error, message);
        EXPECT_FALSE(held.Held());
        EXPECT_FALSE(FileExists(file)) << ToUtf8(message);
    };
    AppUpdate wrongDigest = offered;
    wrongDigest.sha256 = std::wstring(64, L'a');
    expectRefused(wrongDigest, L"The download did not match the published checksum.");
    AppUpdate wrongSize = offered;
    wrongSize.size = offered.size + 1;
    expectRefused(wrongSize, L"The download size does not match the update list.");
    AppUpdate newer = offered;
    newer.version = L"2.7.1";
    expectRefused(newer, L"The download says it is 2.7.0, not 2.7.1.");

    // A 32-bit build and something that is not a program at all.
    std::string x86 = release;
    uint32_t pe = 0;
    memcpy(&pe, x86.data() + 60, 4);
    x86[pe + 4] = 0x4C;
    x86[pe + 5] = 0x01;
    server.PlaceFile(L"Quorvantis-x86.exe", x86);
    AppUpdate thirtyTwo = offered;
    thirtyTwo.url = server.Url(L"/Quorvantis-x86.exe");
    thirtyTwo.sha256 = FromUtf8(Sha256Of(x86));
    expectRefused(thirtyTwo, L"The download is not the 64-bit Quorvantis executable.");
    const std::string text(5000, 'x');
    server.PlaceFile(L"Quorvantis-text.exe", text);
    AppUpdate notProgram = offered;
    notProgram.url = server.Url(L"/Quorvantis-text.exe");
    notProgram.sha256 = FromUtf8(Sha256Of(text));
    notProgram.size = text.size();
    expectRefused(notProgram, L"The download is not a Windows executable.");

    AppUpdate redirected = offered;
    redirected.url = server.Url(L"/Quorvantis-redirect.exe");
    EXPECT_FALSE(DownloadAndVerifyUpdate(source, redirected, file, held, nullptr, cancel, error));
    EXPECT_EQ(error, L"The download was redirected away from localhost.");
    EXPECT_FALSE(FileExists(file));
}

TEST_F(SelfUpdate, ReplacingKeepsTheRunningCopyAsideAndPutsItBackWhenTheNewOneDoesNotCheckOut) {
    TempFolder folder;
    const std::wstring target = folder.File(L"Quorvantis.exe");
    ASSERT_TRUE(CopyFileW(ChildPath().c_str(), target.c_str(), FALSE));
    const std::wstring fresh = folder.File(L"new.exe");
    ASSERT_TRUE(WriteFileBytes(fresh, release));
    const HeldFile held(fresh);
    ASSERT_TRUE(held.Held());
    std::wstring error;
    {
        // The target is running while it is replaced: it can only be moved aside.
        RunningProgram running(target, L"sleep 3000");
        ASSERT_TRUE(running.Started());
        HeldFile placed;
        ASSERT_TRUE(ReplaceExecutable(target, held, placed, error)) << ToUtf8(error);
        EXPECT_TRUE(ReadFileBytes(target) == release);
        EXPECT_FALSE(FileExists(target + L".new"));
        // The copy that was checked stays held for the relaunch: nobody can change it meanwhile.
        EXPECT_EQ(placed.Sha256(), held.Sha256());
        const HANDLE writer = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
    RemoveTree(target + L".old");

    // A copy that is not a 64-bit program: the previous program comes back and nothing is left beside it.
    const std::wstring text = folder.File(L"text.exe");
    ASSERT_TRUE(WriteFileBytes(text, "MZ but no more"));
    HeldFile placed;
    EXPECT_FALSE(ReplaceExecutable(target, HeldFile(text), placed, error));
    EXPECT_FALSE(placed.Held());
    EXPECT_EQ(error, L"The new copy at " + target + L" did not check out, so the previous one was put back.");
    EXPECT_FALSE(FileExists(target + L".old"));
    EXPECT_FALSE(FileExists(target + L".new"));
    EXPECT_TRUE(ReadFileBytes(target) == release);
}

// As a user runs it: a copy of the program (built against the local publisher) checks, then
// updates itself in place; the old copy stays beside it until the next start.
TEST_F(SelfUpdate, CheckThenUpdateReplaceTheRunningCopyFromTheCommandLine) {
    if (QueryTimerServiceState() != TimerServiceState::NotInstalled) {
        ASSERT_EQ(RunProgram(BinDirectory() + L"\\Quorvantis.exe", L"--uninstall --no-pause", 120000).exitCode, 0u);
    }
    DeleteFileW(InstalledExePath().c_str());  // no installed copy: only this one is replaced
    const auto published = PublishForProgramCopy();
    const std::wstring& copy = published->path;
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\quorvantis_vendor_test.exe").c_str(), copy.c_str(), FALSE));

    const ProgramRun check = RunProgram(copy, L"--check-update", 60000);
    EXPECT_EQ(check.exitCode, 0u) << check.out << check.err;
    EXPECT_NE(check.out.find("Update available: 2.7.0"), std::string::npos) << check.out;
    EXPECT_TRUE(ReadFileBytes(copy) != release);

    const ProgramRun update = RunProgram(copy, L"--update --yes", 120000);
    EXPECT_EQ(update.exitCode, 0u) << update.out << update.err;
    EXPECT_NE(update.out.find("Updated to 2.7.0."), std::string::npos) << update.out;
    EXPECT_TRUE(ReadFileBytes(copy) == release);
    EXPECT_GE(server.RequestsContaining("POST /api/quorvantis/downloads"), 1u);
    // Staged under the protected data folder, and gone once it was copied.
    EXPECT_FALSE(FileExists(DataDirectory() + L"\\update"));
}

// With the timer service installed, the update stops it, replaces its copy under Program Files as
// well as the running one, and starts it again (here the published release is a stand-in program
// that cannot run as the service, so the restart is reported as failed).
TEST_F(SelfUpdate, TheInstalledServiceCopyIsStoppedReplacedAndStartedAgain) {
    const std::wstring program = BinDirectory() + L"\\Quorvantis.exe";
    ASSERT_EQ(RunProgram(program, L"--install --resolution 10000 --no-pause", 120000).exitCode, 0u) << ReadProgramLog();
    ASSERT_EQ(QueryTimerServiceState(), TimerServiceState::Running);
    ClearProgramLog();
    const auto published = PublishForProgramCopy();
    const std::wstring& copy = published->path;
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\quorvantis_vendor_test.exe").c_str(), copy.c_str(), FALSE));

    const ProgramRun update = RunProgram(copy, L"--update --yes", 180000);
    EXPECT_EQ(update.exitCode, 0u) << update.out << update.err;
    EXPECT_TRUE(ReadFileBytes(InstalledExePath()) == release);
    EXPECT_TRUE(ReadFileBytes(copy) == release);
    // The installed copy passed its checks, so its old copy is gone.
    EXPECT_FALSE(FileExists(InstalledExePath() + L".old"));
    const std::string log = ReadProgramLog();
    EXPECT_NE(log.find("The Quorvantis service did not restart."), std::string::npos) << log;
    EXPECT_NE(log.find("Updated to 2.7.0."), std::string::npos) << log;

    // An older list is refused while this newer copy is installed, whichever copy asks.
    AppUpdate older = offered;
    older.version = L"2.6.9";
    Publish(older, signer.Sign(older));
    AppUpdate found;
    std::wstring error;
    EXPECT_FALSE(Check(found, error));
    EXPECT_TRUE(error.empty()) << ToUtf8(error);
    const Outcome refused = ApplyAppUpdate(source, older, nullptr, cancel);
    EXPECT_EQ(refused.Which(), Outcome::Kind::Failed);
    EXPECT_EQ(refused.Error(), L"The installed copy is already version 2.7.0, so 2.6.9 was not installed.");

    // The real program takes everything away again.
    CopyFileW(program.c_str(), InstalledExePath().c_str(), FALSE);
    EXPECT_EQ(RunProgram(program, L"--uninstall --no-pause", 120000).exitCode, 0u) << ReadProgramLog();
}

// A power cut between the two renames of an update leaves the installed copy missing (or a
// half-written file in its place) beside a whole ".old": the next start puts the old copy back.
TEST_F(SelfUpdate, AnInstalledCopyAnInterruptedUpdateLeftMissingOrBrokenIsPutBackAtTheNextStart) {
    if (QueryTimerServiceState() != TimerServiceState::NotInstalled) {
        ASSERT_EQ(RunProgram(BinDirectory() + L"\\Quorvantis.exe", L"--uninstall --no-pause", 120000).exitCode, 0u);
    }
    const std::wstring program = BinDirectory() + L"\\Quorvantis.exe";
    CreateDirectoryW(InstallDirectory().c_str(), nullptr);
    const std::wstring installed = InstalledExePath();
    for (const char* leftOver : {"", "half a progr"}) {
        DeleteFileW(installed.c_str());
        if (*leftOver != '\0') {
            ASSERT_TRUE(WriteFileBytes(installed, leftOver));
        }
        ASSERT_TRUE(CopyFileW(program.c_str(), (installed + L".old").c_str(), FALSE));
        RunProgram(program, L"--stop", 60000);  // any command that takes the single-instance lock
        EXPECT_TRUE(ReadFileBytes(installed) == ReadFileBytes(program)) << leftOver;
        EXPECT_FALSE(FileExists(installed + L".old")) << leftOver;
        EXPECT_NE(ReadProgramLog().find("was interrupted; the previous copy was put back."), std::string::npos);
    }
    // A whole installed copy is never replaced by its old one.
    ASSERT_TRUE(WriteFileBytes(installed + L".old", release));
    RunProgram(program, L"--stop", 60000);
    EXPECT_TRUE(ReadFileBytes(installed) == ReadFileBytes(program));
    DeleteFileW((installed + L".old").c_str());
    DeleteFileW(installed.c_str());
}
