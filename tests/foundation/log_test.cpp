#include "foundation/log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/files.h"
#include "foundation/protected_folder.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace {

// Every test logs into its own data directory.
class LogFile : public testing::Test {
public:
    std::string Log() { return ReadFileBytes(LogFilePath()); }

protected:
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
};

std::vector<std::string> SplitCrLf(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(bytes.substr(start, end - start));
    }
    EXPECT_EQ(start, bytes.size()) << "the file ends in the middle of a line";
    return lines;
}

const std::regex kStamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  (.*))");

}  // namespace

TEST_F(LogFile, FirstLineCreatesTheDirectoryAndEachLineIsStampedUtf8CrLf) {
    ASSERT_FALSE(FileExists(DataDirectory()));
    LogInfo(L"Using requested resolution: 5070 (0.5070 ms) \u2192 ok");
    LogError(L"Install failed; see the log for details.");

    EXPECT_EQ(LogFilePath(), folder.Path() + L"\\Quorvantis\\Quorvantis.log");
    const std::vector<std::string> lines = SplitCrLf(Log());
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kStamped)) << lines[0];
    EXPECT_EQ(m[1].str(), "Using requested resolution: 5070 (0.5070 ms) \xE2\x86\x92 ok");
    ASSERT_TRUE(std::regex_match(lines[1], m, kStamped)) << lines[1];
    EXPECT_EQ(m[1].str(), "ERROR: Install failed; see the log for details.");
}

TEST_F(LogFile, FeedGetsTheSameLinesWithTheErrorPrefix) {
    RecordingFeed feed;
    {
        const ScopedFeed scope(&feed);
        LogInfo(L"first\nsecond");
        LogError(L"x");
        AppendHealthLog(L"not for the feed");
    }
    LogInfo(L"after the feed is gone");
    EXPECT_EQ(feed.Lines(), (std::vector<std::wstring>{L"first\nsecond", L"ERROR: x"}));
}

TEST_F(LogFile, LongTextIsWrittenWholeAndHealthLinesAreCut) {
    LogInfo(std::wstring(3000, L'L'));
    AppendHealthLog(L"4 passing \u00B7 0 need attention");
    AppendHealthLog(std::wstring(2000, L'h'));
    const std::string log = Log();
    const std::vector<std::string> lines = SplitCrLf(log.substr(0, log.rfind("\r\n") + 2));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 21u + 3000u);
    EXPECT_EQ(lines[1].substr(19), "  health  4 passing \xC2\xB7 0 need attention");
    // The cut health line has no line end of its own.
    EXPECT_EQ(log.size() - (log.rfind("\r\n") + 2), 767u);
}

TEST_F(LogFile, LinesFromManyThreadsNeverInterleave) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 40; ++i) LogInfo(std::wstring(200, static_cast<wchar_t>(L'a' + t)));
        });
    }
    for (auto& thread : threads) thread.join();
    const std::vector<std::string> lines = SplitCrLf(Log());
    ASSERT_EQ(lines.size(), 160u);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kStamped));
        EXPECT_EQ(m[1].str(), std::string(200, m[1].str()[0]));
    }
}



// A window left in the tray logs a health line a minute: past 4 MB the log moves to ".1" (the one
// older copy) and a new one starts, with no line lost or torn by the move.
TEST_F(LogFile, PastFourMegabytesTheLogMovesAsideWholeAndANewOneTakesEveryLine) {
    LogInfo(L"first");
    const std::string old = std::string(100, 'o') + "\r\n";
    std::string filler;
    while (filler.size() <= (4u << 20)) filler += old;
    ASSERT_TRUE(WriteFileBytes(LogFilePath(), filler));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 40; ++i) LogInfo(std::wstring(200, static_cast<wchar_t>(L'a' + t)));
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(ReadFileBytes(LogFilePath() + L".1"), filler);
    const std::vector<std::string> lines = SplitCrLf(Log());
    ASSERT_EQ(lines.size(), 160u);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kStamped));
        EXPECT_EQ(m[1].str(), std::string(200, m[1].str()[0]));
    }
    // A second move replaces the older copy: one is kept.
    ASSERT_TRUE(WriteFileBytes(LogFilePath(), filler + "second\r\n"));
    LogInfo(L"third");
    EXPECT_EQ(ReadFileBytes(LogFilePath() + L".1"), filler + "second\r\n");
    EXPECT_EQ(SplitCrLf(Log()).size(), 1u);
}

// Anyone may make the data folder, or put things in it, before the program first runs; the
// elevated program then takes nothing over: the whole folder is moved aside and made anew before
// its first line is written.
void ExpectMovedAsideAndMadeAnew(LogFile& test, bool folderItself) {
    {
        FakeFolderSecurity security;
        ASSERT_TRUE(CreateDirectoryW(DataDirectory().c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((DataDirectory() + L"\\drivers").c_str(), nullptr));
        const std::wstring planted = DataDirectory() + L"\\drivers\\package.exe.partial";
        ASSERT_TRUE(WriteFileBytes(planted, "theirs"));
        if (folderItself) {
            // Made by the elevating user's own programs before the first elevated run: they own it.
            security.folders[DataDirectory()] = FakeFolderSecurity::MadeBy(Principal::ThisUser, false);
        } else {
            security.folders[DataDirectory()] = FakeFolderSecurity::Protected();
            security.folders[planted] = FakeFolderSecurity::MadeBy(Principal::Other, true);  // one file inside is someone else's
        }
        LogInfo(L"first line");
        EXPECT_FALSE(FileExists(planted)) << folderItself;
        EXPECT_FALSE(FileExists(DataDirectory() + L"\\drivers")) << folderItself;
        const std::wstring aside = DataFolderMovedAside();
        ASSERT_FALSE(aside.empty());
        EXPECT_TRUE(FileExists(aside + L"\\drivers\\package.exe.partial"));
        const std::vector<std::string> lines = SplitCrLf(test.Log());
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[0].find(ToUtf8(L"Files in " + DataDirectory() + L" were not made by Quorvantis, and other users could change "
                                       L"them; they were moved to " + aside +
                                       L" and the folder was made anew, writable only by Administrators and SYSTEM.")),
                  std::string::npos)
            << lines[0];
        EXPECT_NE(lines[1].find("  first line"), std::string::npos);
        RemoveTree(aside);
    }
}

TEST_F(LogFile, AFolderMadeByAnotherUserIsMovedAsideAndMadeAnew) { ExpectMovedAsideAndMadeAnew(*this, true); }

TEST_F(LogFile, AFolderWithOneFileOfAnotherUserIsMovedAsideWholeAndMadeAnew) { ExpectMovedAsideAndMadeAnew(*this, false); }

// A file where the data folder belongs, or a folder whose list shuts administrators out, would
// otherwise keep every elevated run from writing anything: each is taken over if need be, moved
// aside and the folder made anew, and the log says where it went.
TEST_F(LogFile, AFileInTheFoldersPlaceOrAListThatShutsAdministratorsOutIsMovedAside) {
    for (const bool file : {true, false}) {
        TempFolder root;
        const ScopedProgramFolders own(root.Path());
        FakeFolderSecurity security;
        if (file) {
            ASSERT_TRUE(WriteFileBytes(DataDirectory(), "squatted"));
        } else {
            ASSERT_TRUE(CreateDirectoryW(DataDirectory().c_str(), nullptr));
            security.denied.insert(DataDirectory());
        }
        LogInfo(L"first line");
        const std::wstring aside = DataFolderMovedAside();
        ASSERT_FALSE(aside.empty()) << file;
        EXPECT_TRUE(FileExists(aside)) << file;
        EXPECT_EQ(security.takenOver, file ? 0 : 1) << "taken over only when it could not be moved otherwise";
        EXPECT_TRUE(security.Judged(DataDirectory()).ownerTrusted) << file;
        EXPECT_NE(Log().find("  first line"), std::string::npos) << file;
        // Said once a process, at the first replacement.
        if (file) {
            EXPECT_NE(Log().find(ToUtf8(L"they were moved to " + aside)), std::string::npos) << Log();
        }
    }
}

TEST_F(LogFile, AnElevatedProcessWritesNothingIntoAFolderItCannotMakeSafe) {
    FakeFolderSecurity security;
    security.refuse = true;
    ASSERT_TRUE(CreateDirectoryW(DataDirectory().c_str(), nullptr));
    security.folders[DataDirectory()] = FakeFolderSecurity::MadeBy(Principal::Administrators, false);
    security.folders[DataDirectory()].entries.push_back({Principal::Other, EntryKind::Allow, FILE_GENERIC_WRITE});
    LogInfo(L"kept out");
    EXPECT_FALSE(FileExists(LogFilePath()));
    RemoveTree(DataFolderMovedAside());
}

TEST_F(LogFile, AMissingFolderIsCreatedProtected) {
    FakeFolderSecurity security;
    LogInfo(L"first line");
    ASSERT_TRUE(security.folders.count(DataDirectory()));
    EXPECT_FALSE(security.Judged(DataDirectory()).othersCanWrite);
    EXPECT_EQ(security.protects, 0);
    EXPECT_EQ(SplitCrLf(Log()).size(), 1u);
}
