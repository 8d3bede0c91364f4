#pragma once
// Shared by the tests: a feed that records what it is told, temporary folders and environment
// variables, and running programs that sit beside the test executable.
#include <cstdint>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/change_ledger.h"
#include "foundation/feed.h"
#include "foundation/system.h"

// Records what a step tells its feed; can be told to ask for a stop after some cancel queries.
class RecordingFeed : public Feed {
public:
    struct SampleCall {
        uint32_t period;
        double overshoot;
        bool idle;
    };
    struct SweepCall {
        size_t candidates;
        size_t smoothed;
        int best, firstNeverMissing, target, margin, pass, passCount, number, justMeasured;
    };

    void System(const SystemView& view) override;
    void Stage(const std::wstring& tag, const std::wstring& text) override;
    void Progress(double fraction, double elapsedSeconds, double remainingSeconds) override;
    void LogLine(const std::wstring& line) override;
    void Baseline(const StatsBrief& stats, uint32_t currentPeriod) override;
    void Sample(uint32_t period, double overshootMs, bool idleGap) override;
    void SweepTable(const std::vector<CandidateSummary>& candidates, const std::vector<double>& smoothedScores,
                    int bestIndex, int firstNeverMissingIndex, int targetIndex, int marginUnits, int pass,
                    int passCount, int candidateNumber, int justMeasuredIndex) override;
    void VerificationTable(const std::vector<CandidateSummary>& finalists, int justMeasuredIndex,
                           int marginTargetUnits) override;
    void Explanation(const std::wstring& title, const std::wstring& paragraph) override;
    void Items(const std::vector<TweakItem>& items) override;
    bool CancelQuery() override;

    std::vector<std::wstring> Lines();
    // True when some logged line contains the text.
    bool Logged(const std::wstring& text);
    // Waits (up to the time limit) until a line containing the text has been logged.
    bool WaitUntilLogged(const std::wstring& text, uint32_t timeoutMs);

    // Answers "stop" from the given cancel query on (counting from 0); never when negative.
    long long cancelFrom = -1;
    bool storeSamples = true;
    // Called on every stage (tag) change, e.g. to change the simulated machine between phases.
    void (*onStage)(const std::wstring& tag, void* context) = nullptr;
    void* onStageContext = nullptr;

    std::vector<SystemView> systems;
    std::vector<std::pair<std::wstring, std::wstring>> stages;
    std::vector<std::pair<std::wstring, std::wstring>> explanations;
    std::vector<double> progressFractions;
    std::vector<SampleCall> samples;
    uint64_t sampleCount = 0;
    std::vector<SweepCall> sweeps;
    std::vector<int> verificationMeasured;
    int verificationTarget = -1;  // the margin target of the last verification table
    std::vector<std::vector<TweakItem>> itemLists;
    StatsBrief baseline{};
    uint32_t baselinePeriod = 0;
    long long cancelQueries = 0;

private:
    std::mutex mutex_;
    std::condition_variable lineAdded_;
    std::vector<std::wstring> lines_;
};

// Installs a feed on this thread for the scope and removes it afterwards.
class ScopedFeed {
public:
    explicit ScopedFeed(Feed* feed);
    ~ScopedFeed();
};

// Sets (or with null, removes) a switch of the fakes: in this process's environment, for the
// helpers it starts itself, and where helpers the program starts read it (helper_common.h).
void SetFakeSwitch(const wchar_t* name, const wchar_t* value);
// Makes the switches the helpers read from the registry exactly this process's own (what a test
// that ended early left there goes).
void SyncFakeSwitches();

// Sets (or with null, removes) an environment variable for the scope; the fakes' switches
// (names starting "QV_") also where the helpers the program starts read them.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();

private:
    std::wstring name_;
    std::wstring previous_;
    bool hadPrevious_ = false;
};

// The program's data folder (and, when given, Program Files) under other roots for the scope,
// in this process only. Programs the test starts use the system's folders.
class ScopedProgramFolders {
public:
    explicit ScopedProgramFolders(const std::wstring& dataRoot, const std::wstring& programFilesRoot = L"");
    ~ScopedProgramFolders();
};

// The log of the programs a test starts: under the system's ProgramData, whatever this
// process overrode. Cleared by the fixtures that read it.
std::wstring ProgramLogPath();
std::string ReadProgramLog();
void ClearProgramLog();

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

// What any user can set for a program they start, planted for the scope: a .NET profiler
// (COR_ENABLE_PROFILING, COR_PROFILER, COR_PROFILER_PATH), a folder of theirs first on PATH,
// TEMP and TMP in a folder of theirs, and that folder as the current folder. The helpers record
// the environment and folder they were started with (QV_FAKE_ENV_LOG).
class PlantedEnvironment {
public:
    PlantedEnvironment();
    ~PlantedEnvironment();
    PlantedEnvironment(const PlantedEnvironment&) = delete;
    PlantedEnvironment& operator=(const PlantedEnvironment&) = delete;
    // Every line of the record that shows something planted, or TEMP and TMP anywhere but a
    // folder of the child's own under the data folder.
    std::wstring Seen() const;
    std::string Record() const;

private:
    TempFolder folder_;
    std::vector<std::unique_ptr<ScopedEnvironment>> variables_;
    std::wstring previousFolder_;
};

std::wstring BinDirectory();  // the folder holding the test executable, the program and the helpers
std::wstring ChildPath();     // the qv_child helper
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
void DeleteTree(const std::wstring& path);

struct ProgramRun {
    uint32_t exitCode = 0;
    std::string out;  // raw bytes of standard output
    std::string err;  // raw bytes of standard error
};
// Runs an executable with the arguments (already quoted as needed), standard streams in files.
ProgramRun RunProgram(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs = 60000);

// A program left running while the test watches it (a window); ended at the end of the scope
// if it is still running.
class RunningProgram {
public:
    RunningProgram(const std::wstring& executable, const std::wstring& arguments);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    bool Started() const { return process_ != nullptr; }
    unsigned long Id() const { return id_; }
    // The exit code once it has ended within the time, else nothing.
    bool WaitForExit(uint32_t timeoutMs, uint32_t& exitCode);

private:
    void* process_ = nullptr;
    unsigned long id_ = 0;
};

// The program's main window (visible or not) once the process has made it, or null after the limit.
struct HWND__;
HWND__* WaitForProgramWindow(unsigned long process, uint32_t timeoutMs);

// A service of the test prefix. One of the same name that an earlier test deleted may linger
// until its last handle closes; creation waits for it to go.
void CreateTestService(const wchar_t* name, const std::wstring& binaryPath, unsigned long startType);
// Stops and deletes the service and waits until the service manager no longer knows it.
void DeleteTestService(const wchar_t* name);

// The machine's display adapters put aside for the scope: keys 0000 to 0039 are empty for the
// test to plant its own, and the original ones come back afterwards.
class ScopedDisplayAdapters {
public:
    ScopedDisplayAdapters();
    ~ScopedDisplayAdapters();
    ScopedDisplayAdapters(const ScopedDisplayAdapters&) = delete;
    ScopedDisplayAdapters& operator=(const ScopedDisplayAdapters&) = delete;
    static std::wstring Key(int index);
};

// A row of the ledger as a step's records give it, judged like the program judges it.
ChangeRow LedgerRow(const std::wstring& id, const std::wstring& step, const std::wstring& setting, const std::wstring& original,
                    const std::wstring& current, const std::wstring& ours);
