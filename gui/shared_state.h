#pragma once
// The hand-off between a worker and the window: the one Feed implementation. A worker reports
// into it under its mutex; the window copies it once per frame into a StateView and draws only
// from the copy. The sample operation is constant time (fixed ring, fixed grids, saturating
// counters), so a measuring worker is never slowed by the window.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/feed.h"
#include "gui/lattice_model.h"

struct SampleRecord {
    float overshoot = 0;  // ms
    int period = 0;       // 100-ns units, 0 for the baseline
    bool idle = false;
    double seconds = 0;  // since the state was created or reset
};

struct PeriodCounts {
    int period = 0;        // 100-ns units; 0 marks a free slot
    uint32_t samples = 0;  // both saturate at 1,000,000
    uint32_t late = 0;
};

struct ProgressTriple {
    double fraction = 0;
    double elapsed = 0;
    double remaining = 0;
};

struct SweepView {
    std::vector<CandidateSummary> candidates;
    std::vector<double> smoothed;
    int best = -1, firstNeverMissing = -1, target = -1, margin = 0, pass = -1, passCount = -1, number = -1,
        justMeasured = -1;
};

struct VerificationView {
    std::vector<CandidateSummary> finalists;
    int justMeasured = -1;
    int marginTarget = -1;
};

// What one frame draws from.
struct StateView {
    std::wstring tag, text;
    ProgressTriple progress;
    bool progressSeen = false;
    std::vector<std::wstring> log;
    bool baselinePresent = false;
    StatsBrief baseline;
    uint32_t baselinePeriod = 0;
    SweepView sweep;
    VerificationView verification;
    bool verificationSeen = false;
    SystemView system;
    std::vector<SampleRecord> samples;  // newest, at most kSnapshotSamples, oldest first
    std::array<int, kHistogramBins> histogram{};
    uint64_t histogramTotal = 0;
    uint64_t histogramLate = 0;
    uint64_t totalSamples = 0;
    int lastPeriod = 0;
    double seconds = 0;
    std::wstring explanationTitle, explanationText;
    std::vector<TweakItem> items;
    LatticeData lattice;
    std::vector<PeriodCounts> periods;  // every period seen, in no particular order
};

// A running step at a glance, for a tile: its header, progress, newest log lines and items.
struct StepBrief {
    std::wstring tag, text;
    ProgressTriple progress;
    std::vector<std::wstring> log;  // the newest lines, oldest first
    std::vector<TweakItem> items;
};

class SharedState final : public Feed {
public:
    static constexpr size_t kRingSize = 4096;
    static constexpr size_t kLogLines = 40;
    static constexpr size_t kSnapshotSamples = 360;

    SharedState();

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
    bool CancelQuery() override { return cancel.load(); }

    // Empties everything (a new job on the slot); the cancel flag too.
    void Reset();
    // Copies the state for one frame. The view's buffers are reused from frame to frame.
    void Snapshot(StateView& view) const;
    // The step at a glance, with at most logLines of its newest log lines. Buffers are reused.
    void Brief(StepBrief& brief, size_t logLines) const;
    // The stage header alone, for the screens that need nothing else.
    std::pair<std::wstring, std::wstring> Header() const;

    std::atomic<bool> cancel{false};

private:
    void ClearHeat();  // a new sweep pass, or the first verification table
    double Seconds() const;

    mutable std::mutex mutex_;
    std::chrono::steady_clock::time_point created_;
    std::wstring tag_, text_;
    ProgressTriple progress_;
    bool progressSeen_ = false;
    std::deque<std::wstring> log_;
    bool baselinePresent_ = false;
    StatsBrief baseline_;
    uint32_t baselinePeriod_ = 0;
    SweepView sweep_;
    VerificationView verification_;
    bool verificationSeen_ = false;
    int heatPass_ = -1;
    SystemView system_;
    // The fixed-size parts live on the heap, so a state (or the nine of a workflow) can sit
    // anywhere, a thread's stack included.
    static constexpr size_t kPeriodSlots = 4096;
    struct Store {
        std::array<SampleRecord, kRingSize> ring{};
        // Open addressing with a fixed size, so the sample operation never allocates. A run with
        // more distinct periods than this places the extra ones by each sample alone.
        std::array<PeriodCounts, kPeriodSlots> periods{};
        LatticeData lattice;
    };
    const std::unique_ptr<Store> store_ = std::make_unique<Store>();
    size_t writeIndex_ = 0;
    uint64_t totalSamples_ = 0;
    int lastPeriod_ = 0;
    std::array<int, kHistogramBins> histogram_{};
    uint64_t histogramTotal_ = 0;
    uint64_t histogramLate_ = 0;
    PeriodCounts* FindPeriod(int period);
    std::wstring explanationTitle_, explanationText_;
    std::vector<TweakItem> items_;
};
