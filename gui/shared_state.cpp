#include "gui/shared_state.h"

#include <algorithm>

namespace {

constexpr uint32_t kPeriodCountLimit = 1000000;

void AddCapped(uint32_t& counter) {
    if (counter < kPeriodCountLimit) ++counter;
}

}  // namespace

SharedState::SharedState() : created_(std::chrono::steady_clock::now()) {}

double SharedState::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - created_).count();
}

void SharedState::System(const SystemView& view) {
    const std::lock_guard<std::mutex> lock(mutex_);
    system_ = view;
}

void SharedState::Stage(const std::wstring& tag, const std::wstring& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    tag_ = tag;
    text_ = text;
}

void SharedState::Progress(double fraction, double elapsedSeconds, double remainingSeconds) {
    const std::lock_guard<std::mutex> lock(mutex_);
    progress_ = ProgressTriple{fraction, elapsedSeconds, remainingSeconds};
    progressSeen_ = true;
}

void SharedState::LogLine(const std::wstring& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    size_t start = 0;
    for (;;) {
        const size_t end = line.find(L'\n', start);
        const std::wstring piece = line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        // An empty piece between two line feeds (or before the first) is skipped; the last one is kept.
        if (!piece.empty() || end == std::wstring::npos) {
            log_.push_back(piece);
            if (log_.size() > kLogLines) log_.pop_front();
        }
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
}

void SharedState::Baseline(const StatsBrief& stats, uint32_t currentPeriod) {
    const std::lock_guard<std::mutex> lock(mutex_);
    baselinePresent_ = true;
    baseline_ = stats;
    baselinePeriod_ = currentPeriod;
}

PeriodCounts* SharedState::FindPeriod(int period) {
    size_t slot = static_cast<uint32_t>(period) * 2654435761u % kPeriodSlots;
    for (size_t probe = 0; probe < kPeriodSlots; ++probe, slot = (slot + 1) % kPeriodSlots) {
        PeriodCounts& entry = store_->periods[slot];
        if (entry.period == period) return &entry;
        if (entry.period == 0) {
            entry.period = period;
            return &entry;
        }
    }
    return nullptr;
}

void SharedState::Sample(uint32_t period, double overshootMs, bool idleGap) {
    const std::lock_guard<std::mutex> lock(mutex_);
    store_->ring[writeIndex_] = SampleRecord{static_cast<float>(overshootMs), static_cast<int>(period), idleGap, Seconds()};
    writeIndex_ = (writeIndex_ + 1) % kRingSize;
    ++totalSamples_;
    lastPeriod_ = static_cast<int>(period);

    const bool late = period != 0 && IsLateSample(period, overshootMs);
    ++histogram_[HistogramBin(overshootMs)];
    ++histogramTotal_;
    if (late) ++histogramLate_;
    if (period == 0) return;  // the baseline has no place in the Lattice

    double lateFraction = late ? 1.0 : 0.0;
    if (PeriodCounts* counts = FindPeriod(static_cast<int>(period))) {
        AddCapped(counts->samples);
        if (late) AddCapped(counts->late);
        lateFraction = static_cast<double>(counts->late) / counts->samples;
    }
    LatticeCell& cell = store_->lattice.At(LatencyRow(overshootMs), LateColumn(lateFraction));
    AddSaturating(cell.all, 1);
    AddSaturating(idleGap ? cell.idle : cell.loop, 1);
    if (late) AddSaturating(cell.late, 1);
}

void SharedState::ClearHeat() {
    store_->lattice.Clear();
    store_->periods.fill(PeriodCounts{});
    histogram_.fill(0);
    histogramTotal_ = 0;
    histogramLate_ = 0;
}

void SharedState::SweepTable(const std::vector<CandidateSummary>& candidates, const std::vector<double>& smoothedScores,
                             int bestIndex, int firstNeverMissingIndex, int targetIndex, int marginUnits, int pass,
                             int passCount, int candidateNumber, int justMeasuredIndex) {
    const std::lock_guard<std::mutex> lock(mutex_);
    sweep_ = SweepView{candidates,  smoothedScores, bestIndex,       firstNeverMissingIndex, targetIndex,
                       marginUnits, pass,           passCount,       candidateNumber,        justMeasuredIndex};
    // Each pass starts the heat afresh, so the Lattice always shows the current pass.
    if (pass > 0 && pass != heatPass_) {
        heatPass_ = pass;
        ClearHeat();
    }
    ColumnsFromCandidates(candidates, store_->lattice);
}

void SharedState::VerificationTable(const std::vector<CandidateSummary>& finalists, int justMeasuredIndex,
                                    int marginTargetUnits) {
    const std::lock_guard<std::mutex> lock(mutex_);
    verification_ = VerificationView{finalists, justMeasuredIndex, marginTargetUnits};
    if (!verificationSeen_) {
        verificationSeen_ = true;
        ClearHeat();
    }
    ColumnsFromCandidates(finalists, store_->lattice);
}

void SharedState::Explanation(const std::wstring& title, const std::wstring& paragraph) {
    const std::lock_guard<std::mutex> lock(mutex_);
    explanationTitle_ = title;
    explanationText_ = paragraph;
}

void SharedState::Items(const std::vector<TweakItem>& items) {
    const std::lock_guard<std::mutex> lock(mutex_);
    items_ = items;
}

void SharedState::Reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    created_ = std::chrono::steady_clock::now();
    tag_.clear();
    text_.clear();
    progress_ = ProgressTriple{};
    progressSeen_ = false;
    log_.clear();
    baselinePresent_ = false;
    baseline_ = StatsBrief{};
    baselinePeriod_ = 0;
    sweep_ = SweepView{};
    verification_ = VerificationView{};
    verificationSeen_ = false;
    heatPass_ = -1;
    system_ = SystemView{};
    store_->ring.fill(SampleRecord{});
    writeIndex_ = 0;
    totalSamples_ = 0;
    lastPeriod_ = 0;
    ClearHeat();
    explanationTitle_.clear();
    explanationText_.clear();
    items_.clear();
    cancel.store(false);
}

void SharedState::Snapshot(StateView& view) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    view.tag = tag_;
    view.text = text_;
    view.progress = progress_;
    view.progressSeen = progressSeen_;
    view.log.assign(log_.begin(), log_.end());
    view.baselinePresent = baselinePresent_;
    view.baseline = baseline_;
    view.baselinePeriod = baselinePeriod_;
    view.sweep = sweep_;
    view.verification = verification_;
    view.verificationSeen = verificationSeen_;
    view.system = system_;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(totalSamples_, kSnapshotSamples));
    view.samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        view.samples[i] = store_->ring[(writeIndex_ + kRingSize - count + i) % kRingSize];
    }
    view.histogram = histogram_;
    view.histogramTotal = histogramTotal_;
    view.histogramLate = histogramLate_;
    view.totalSamples = totalSamples_;
    view.lastPeriod = lastPeriod_;
    view.seconds = Seconds();
    view.explanationTitle = explanationTitle_;
    view.explanationText = explanationText_;
    view.items = items_;
    view.lattice = store_->lattice;
    view.periods.clear();
    for (const PeriodCounts& entry : store_->periods) {
        if (entry.period != 0) view.periods.push_back(entry);
    }
}

void SharedState::Brief(StepBrief& brief, size_t logLines) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    brief.tag = tag_;
    brief.text = text_;
    brief.progress = progress_;
    const size_t first = log_.size() > logLines ? log_.size() - logLines : 0;
    brief.log.assign(log_.begin() + static_cast<std::ptrdiff_t>(first), log_.end());
    brief.items = items_;
}

std::pair<std::wstring, std::wstring> SharedState::Header() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return {tag_, text_};
}
