#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "foundation/system.h"
#include "foundation/text.h"
#include "support/fakes.h"
#include "support/test_support.h"

TEST(RunProcess, ReturnsTheChildsExitCode) {
    for (const uint32_t code : {0u, 1u, 7u, 255u, 4000u}) {
        EXPECT_EQ(RunProcess(ChildPath(), L"exit " + std::to_wstring(code), 20000), code);
    }
}

TEST(RunProcess, StartFailureIsTheWindowsErrorCode) {
    TempFolder folder;
    EXPECT_EQ(RunProcess(folder.File(L"missing.exe"), L"", 5000), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    const uint32_t noFolder = RunProcess(folder.File(L"no\\such\\dir\\tool.exe"), L"", 5000);
    EXPECT_TRUE(noFolder == ERROR_FILE_NOT_FOUND || noFolder == ERROR_PATH_NOT_FOUND) << noFolder;
}

TEST(RunProcess, ChildStillRunningAtTheTimeoutIsKilledAndReports258) {
    TempFolder folder;
    const std::wstring marker = folder.File(L"woke.txt");
    // The code says the limit ended the wait (a child let finish reports its own exit code); the
    // marker, that the child went with it.
    EXPECT_EQ(RunProcess(ChildPath(), L"sleep 1500 \"" + marker + L"\"", 200), kChildTimedOut);
    Sleep(2000);
    EXPECT_FALSE(FileExists(marker)) << "the child was left running";
}

TEST(RunProcess, ArgumentTextIsPassedAsGivenAfterTheQuotedPath) {
    TempFolder folder;
    const std::wstring record = folder.File(L"cmd.txt");
    ASSERT_EQ(RunProcess(ChildPath(), L"record \"" + record + L"\" -a \"b c\"", 20000), 0u);
    EXPECT_EQ(ReadFileBytes(record), ToUtf8(L"\"" + ChildPath() + L"\" record \"" + record + L"\" -a \"b c\""));
}


TEST(RunCapture, ReturnsAtMost2047BytesOfOutputAndError) {
    const std::wstring big = RunCapture(ChildPath(), L"bytes 3000");
    ASSERT_EQ(big.size(), 2047u);
    EXPECT_EQ(big.substr(0, 5), L"abcde");
    EXPECT_EQ(RunCapture(ChildPath(), L"bytes 10"), L"abcdefghij");
    EXPECT_EQ(RunCapture(ChildPath(), L"stderr oops"), L"oops");
    EXPECT_EQ(RunCapture(ChildPath(), L"exit 3"), L"") << "a child that writes nothing gives empty text";
    EXPECT_EQ(RunCapture(ChildPath() + L".missing", L""), L"");
}

TEST(RunCapture, OutputLargerThanThePipeDoesNotStallTheChild) {
    // The pipe is drained while the child writes; otherwise it would block until the 8 s limit.
    const ULONGLONG start = GetTickCount64();
    const std::wstring big = RunCapture(ChildPath(), L"bytes 2000000");
    EXPECT_EQ(big.size(), 2047u);
    EXPECT_LT(GetTickCount64() - start, 5000u);
}

TEST(RunCapture, ConvertsFromTheOemCodePage) {
    if (GetOEMCP() != 437) GTEST_SKIP() << "the sample bytes are code page 437";
    EXPECT_EQ(RunCapture(ChildPath(), L"oem"), L"\u00E9\u00A3x");
}
