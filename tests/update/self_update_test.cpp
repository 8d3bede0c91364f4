// The self-update against the local server playing the publisher: the signed list, the verified
// download, and replacement on real files.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "foundation/system.h"
#include "service/service_control.h"
#include "foundation/text.h"
#include "driver/vendor_fetch.h"
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
        source.hosts = &server.Hosts();
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
    std::wstring error;
    ASSERT_TRUE(DownloadAndVerifyUpdate(source, offered, file, nullptr, cancel, error)) << ToUtf8(error);
    EXPECT_TRUE(ReadFileBytes(file) == release);

    const auto expectRefused = [&](const AppUpdate& update, const std::wstring& message) {
        EXPECT_FALSE(DownloadAndVerifyUpdate(source, update, file, nullptr, cancel, error)) << ToUtf8(message);
        EXPECT_EQ(error, message);
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
    EXPECT_FALSE(DownloadAndVerifyUpdate(source, redirected, file, nullptr, cancel, error));
    EXPECT_EQ(error, L"The download was redirected away from localhost.");
    EXPECT_FALSE(FileExists(file));
}

TEST_F(SelfUpdate, ReplacingKeepsTheOldCopyAndRollsBackWhenTheCopyFails) {
    TempFolder folder;
    const std::wstring target = folder.File(L"Quorvantis.exe");
    ASSERT_TRUE(CopyFileW(ChildPath().c_str(), target.c_str(), FALSE));
    const std::wstring fresh = folder.File(L"new.exe");
    ASSERT_TRUE(WriteFileBytes(fresh, release));
    std::wstring error;
    {
        // The target is running while it is replaced.
        RunningProgram running(target, L"sleep 3000");
        ASSERT_TRUE(running.Started());
        ASSERT_TRUE(ReplaceExecutable(target, fresh, error)) << ToUtf8(error);
        EXPECT_TRUE(ReadFileBytes(target) == release);
        EXPECT_TRUE(ReadFileBytes(target + L".old") == ReadFileBytes(ChildPath()));
    }

    // A new file that cannot be copied: the target comes back from ".old".
    EXPECT_FALSE(ReplaceExecutable(target, folder.File(L"missing.exe"), error));
    EXPECT_EQ(error.rfind(L"Could not replace " + target + L" (error ", 0), 0u) << ToUtf8(error);
    EXPECT_FALSE(FileExists(target + L".old"));
    EXPECT_TRUE(ReadFileBytes(target) == release);
}

// As a user runs it: a copy of the program (built against the local publisher) checks, then
// updates itself in place; the old copy stays beside it until the next start.
TEST_F(SelfUpdate, CheckThenUpdateReplaceTheRunningCopyFromTheCommandLine) {
    if (QueryTimerServiceState() != 0) {
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
    EXPECT_TRUE(FileExists(copy + L".old"));
    EXPECT_GE(server.RequestsContaining("POST /api/quorvantis/downloads"), 1u);
}

// With the timer service installed, the update stops it, replaces its copy under Program Files as
// well as the running one, and starts it again (here the published release is a stand-in program
// that cannot run as the service, so the restart is reported as failed).
TEST_F(SelfUpdate, TheInstalledServiceCopyIsStoppedReplacedAndStartedAgain) {
    const std::wstring program = BinDirectory() + L"\\Quorvantis.exe";
    ASSERT_EQ(RunProgram(program, L"--install --resolution 10000 --no-pause", 120000).exitCode, 0u) << ReadProgramLog();
    ASSERT_EQ(QueryTimerServiceState(), 1);
    ClearProgramLog();
    const auto published = PublishForProgramCopy();
    const std::wstring& copy = published->path;
    ASSERT_TRUE(CopyFileW((BinDirectory() + L"\\quorvantis_vendor_test.exe").c_str(), copy.c_str(), FALSE));

    const ProgramRun update = RunProgram(copy, L"--update --yes", 180000);
    EXPECT_EQ(update.exitCode, 0u) << update.out << update.err;
    EXPECT_TRUE(ReadFileBytes(InstalledExePath()) == release);
    EXPECT_TRUE(ReadFileBytes(copy) == release);
    EXPECT_TRUE(FileExists(InstalledExePath() + L".old"));
    const std::string log = ReadProgramLog();
    EXPECT_NE(log.find("The Quorvantis service did not restart."), std::string::npos) << log;
    EXPECT_NE(log.find("Updated to 2.7.0."), std::string::npos) << log;

    // The real program takes everything away again.
    CopyFileW((InstalledExePath() + L".old").c_str(), InstalledExePath().c_str(), FALSE);
    EXPECT_EQ(RunProgram(program, L"--uninstall --no-pause", 120000).exitCode, 0u) << ReadProgramLog();
    DeleteFileW((InstalledExePath() + L".old").c_str());
}
