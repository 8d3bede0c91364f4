#pragma once
// Shared by the tests: a feed that records what it is told, temporary folders and environment
// variables, and running programs that sit beside the test executable.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/feed.h"
#include "foundation/system.h"

class RecordingFeed : public Feed {
public:
    void System(const SystemView&) override {}
    void Stage(const std::wstring&, const std::wstring&) override {}
    void Progress(double, double, double) override {}
    void LogLine(const std::wstring& line) override;
    void Baseline(const StatsBrief&, uint32_t) override {}
    void Sample(uint32_t, double, bool) override {}
    void SweepTable(const std::vector<CandidateSummary>&, const std::vector<double>&, int, int, int, int, int, int, int,
                    int) override {}
    void VerificationTable(const std::vector<CandidateSummary>&, int, int) override {}
    void Explanation(const std::wstring&, const std::wstring&) override {}
    void Items(const std::vector<TweakItem>&) override {}
    bool CancelQuery() override { return false; }

    std::vector<std::wstring> Lines();

private:
    std::mutex mutex_;
    std::vector<std::wstring> lines_;
};

// Installs a feed on this thread for the scope and removes it afterwards.
class ScopedFeed {
public:
    explicit ScopedFeed(Feed* feed);
    ~ScopedFeed();
};

// Sets (or with null, removes) an environment variable for the scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();

private:
    std::wstring name_;
    std::wstring previous_;
    bool hadPrevious_ = false;
};

// A fresh, empty folder under the temporary directory, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const wchar_t* name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::wstring BinDirectory();  // the folder holding the test executable, the program and the helpers
std::wstring ChildPath();     // the qv_child helper
std::string ReadFileBytes(const std::wstring& path);
void DeleteTree(const std::wstring& path);

struct ProgramRun {
    uint32_t exitCode = 0;
    std::string out;  // raw bytes of standard output
    std::string err;  // raw bytes of standard error
};
// Runs an executable with the arguments (already quoted as needed), standard streams in files.
ProgramRun RunProgram(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs = 60000);
