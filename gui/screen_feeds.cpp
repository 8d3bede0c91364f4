#include "gui/screen_feeds.h"

#include "foundation/text.h"

ScreenFeeds::ScreenFeeds(const GuiHooks& hooks, BackgroundJobs& jobs, Questions& questions)
    : hooks_(hooks), jobs_(jobs), questions_(questions) {}

void ScreenFeeds::ProbeCpu() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // Nothing to probe with: the step is offered as for a processor of unclear class.
        cpuProbed_ = !hooks_.probeCpu;
    }
    if (!hooks_.probeCpu) return;
    jobs_.Post([this] {
        const CpuProbe probe = hooks_.probeCpu();
        const std::lock_guard<std::mutex> lock(mutex_);
        cpuProbe_ = probe;
        cpuProbed_ = true;
    });
}

void ScreenFeeds::ProbeGpu() {
    if (!hooks_.probeGpu) return;
    jobs_.Post([this] {
        const GpuProbeView probe = hooks_.probeGpu();
        const std::lock_guard<std::mutex> lock(mutex_);
        gpuProbe_ = probe;
        gpuProbed_ = true;
    });
}

bool ScreenFeeds::CpuAnswer(int& cpuClass) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    cpuClass = cpuProbe_.cpuClass;
    return cpuProbed_;
}

void ScreenFeeds::ReadChanges() {
    if (!hooks_.readChanges) return;
    jobs_.Post([this] {
        std::vector<ChangeRow> rows = hooks_.readChanges();
        const std::lock_guard<std::mutex> lock(mutex_);
        changes_ = std::move(rows);
        changesRead_ = true;
    });
}

void ScreenFeeds::PutBack(const ChangeRow& change) {
    if (!hooks_.revertChange) return;
    const std::wstring id = change.id;
    std::wstring question = FormatText(L"Put %ls back to %ls?\n\n%ls\nNow: %ls", id.c_str(), change.original.c_str(),
                                       change.setting.c_str(), change.currentRead ? change.current.c_str() : L"(could not be read)");
    if (change.state == ChangeState::ChangedSince) {
        question += L"\n\nSomeone else changed it since Quorvantis wrote " + change.ours + L"; their value is replaced too.";
    }
    questions_.Later([this, id, question] {
        if (questions_.Ask(question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            puttingBack_ = true;
            putBackOutcome_.clear();
        }
        // Writes the registry, services and the driver store: never on the window's thread.
        jobs_.Post([this, id] {
            std::wstring outcome;
            hooks_.revertChange(id, outcome);
            std::vector<ChangeRow> rows = hooks_.readChanges ? hooks_.readChanges() : std::vector<ChangeRow>{};
            const std::lock_guard<std::mutex> lock(mutex_);
            changes_ = std::move(rows);
            puttingBack_ = false;
            putBackOutcome_ = outcome;
        });
    });
}

void ScreenFeeds::LoadScanIfWanted() {
    if (!scanWanted_) return;
    scanWanted_ = false;
    const std::wstring directory = hooks_.dataDirectory;
    jobs_.Post([this, directory] {
        auto lattice = std::make_unique<LatticeData>();
        std::wstring name;
        const bool found = LoadLatestScan(directory, *lattice, name);
        const std::lock_guard<std::mutex> lock(mutex_);
        loadedScan_ = std::move(lattice);
        loadedScanFound_ = found;
        scanLoadDone_ = true;
    });
}

void ScreenFeeds::Fill(FrameSnapshot& s) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (s.stage == stage::Health) {
        s.changes = changes_;
        s.changesRead = changesRead_;
        s.puttingBack = puttingBack_;
        s.putBackOutcome = putBackOutcome_;
    }
    s.cpuProbed = cpuProbed_;
    if (cpuProbed_) s.cpu = cpuProbe_;
    s.gpuProbed = gpuProbed_;
    if (gpuProbed_) s.gpu = gpuProbe_;
    if (scanLoadDone_) {
        scanLoadDone_ = false;
        shownScan_ = std::move(loadedScan_);
        shownScanFound_ = loadedScanFound_;
    }
    s.scanFound = shownScanFound_;
    s.scan = shownScan_.get();
}
