#pragma once
// The one interface through which every long operation reports and is asked to stop.
// Engine code never knows who listens: a GUI worker's shared state, or nobody at all
// (console and service), in which case everything goes only to the console and the log.
#include <cstdint>
#include <string>
#include <vector>

// The timer service as the service manager sees it (ours, or the older build's when ours is absent).
enum class TimerServiceState : unsigned char { NotInstalled, Running, Stopped };

struct SystemView {
    uint32_t finest = 0;    // 100-ns units
    uint32_t coarsest = 0;
    uint32_t current = 0;
    bool elevated = false;
    TimerServiceState serviceState = TimerServiceState::NotInstalled;
    uint32_t desiredResolution = 0;
    std::wstring priorityText;  // empty until known
};

struct StatsBrief {
    unsigned count = 0;
    double median = 0;
    double mean = 0;
    double stdev = 0;
    double p99 = 0;
    double latePercent = 0;
    double score = 0;
};

struct CandidateSummary {
    uint32_t period = 0;
    bool measured = false;
    uint32_t skipped = 0;
    uint32_t interferer = 0;  // 0 for none
    StatsBrief loop;          // back-to-back pattern
    StatsBrief idle;          // idle-gap pattern
    double score = 0;
    bool clean = false;
};

// Skipped: left as it was on purpose (the user's own setup, or nothing to change there).
enum TweakStatus : int { TweakPending = 0, TweakApplying = 1, TweakWritten = 2, TweakFailed = 3, TweakSkipped = 4 };

struct TweakItem {
    std::wstring alias;
    std::wstring title;
    std::wstring description;
    std::wstring detail;  // old value, arrow, new value
    int status = TweakPending;
};

// Every operation may be called from any thread; implementations serialise themselves.
class Feed {
public:
    virtual ~Feed() = default;
    virtual void System(const SystemView& view) = 0;
    virtual void Stage(const std::wstring& tag, const std::wstring& text) = 0;
    virtual void Progress(double fraction, double elapsedSeconds, double remainingSeconds) = 0;
    virtual void LogLine(const std::wstring& line) = 0;
    virtual void Baseline(const StatsBrief& stats, uint32_t currentPeriod) = 0;
    virtual void Sample(uint32_t period, double overshootMs, bool idleGap) = 0;
    virtual void SweepTable(const std::vector<CandidateSummary>& candidates, const std::vector<double>& smoothedScores,
                            int bestIndex, int firstNeverMissingIndex, int targetIndex, int marginUnits, int pass,
                            int passCount, int candidateNumber, int justMeasuredIndex) = 0;
    virtual void VerificationTable(const std::vector<CandidateSummary>& finalists, int justMeasuredIndex,
                                   int marginTargetUnits) = 0;
    virtual void Explanation(const std::wstring& title, const std::wstring& paragraph) = 0;
    virtual void Items(const std::vector<TweakItem>& items) = 0;
    virtual bool CancelQuery() = 0;
};

// Thread-local context: the feed of the step running on this thread (null on console and
// service threads) and whether tweak steps pause between individual settings.
Feed* CurrentFeed();
void SetCurrentFeed(Feed* feed);
bool DwellEnabled();
void SetDwellEnabled(bool enabled);

// Each does nothing when this thread has no feed.
void FeedStage(const std::wstring& tag, const std::wstring& text);
void FeedExplanation(const std::wstring& title, const std::wstring& paragraph);
void FeedItems(const std::vector<TweakItem>& items);
