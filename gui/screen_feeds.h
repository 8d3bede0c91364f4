#pragma once
// What the background worker finds out for the screens: the processor and graphics probes, the
// ledger of recorded changes (and putting one back), and the newest saved scan. Each is asked
// for on the window's thread, done on the worker and copied into the next frame's snapshot.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gui/background_jobs.h"
#include "gui/gui_hooks.h"
#include "gui/lattice_model.h"
#include "gui/questions.h"
#include "gui/screens/screen.h"

class ScreenFeeds {
public:
    ScreenFeeds(const GuiHooks& hooks, BackgroundJobs& jobs, Questions& questions);
    ScreenFeeds(const ScreenFeeds&) = delete;
    ScreenFeeds& operator=(const ScreenFeeds&) = delete;

    // A fresh answer each time: the processor may have been set differently since the last one.
    void ProbeCpu();
    void ProbeGpu();
    // The processor's class once the probe has answered; false while it has not.
    bool CpuAnswer(int& cpuClass) const;
    // The ledger asks services and the driver store: read on the worker, once per visit.
    void ReadChanges();
    // Asks first (after the frame), then puts the change back on the worker.
    void PutBack(const ChangeRow& change);
    // The home screen shows the newest saved scan: loaded when wanted and the home screen shows.
    void WantScan() { scanWanted_ = true; }
    void LoadScanIfWanted();
    // Copies what was found into the snapshot; the ledger only for the Health screen.
    void Fill(FrameSnapshot& snapshot);

private:
    const GuiHooks& hooks_;
    BackgroundJobs& jobs_;
    Questions& questions_;
    mutable std::mutex mutex_;
    bool cpuProbed_ = false, gpuProbed_ = false;
    CpuProbe cpuProbe_;
    GpuProbeView gpuProbe_;
    std::vector<ChangeRow> changes_;
    bool changesRead_ = false;
    bool puttingBack_ = false;
    std::wstring putBackOutcome_;
    std::unique_ptr<LatticeData> loadedScan_;  // what the worker loaded, not yet taken
    std::unique_ptr<LatticeData> shownScan_;   // what the snapshot points at
    bool loadedScanFound_ = false, shownScanFound_ = false, scanLoadDone_ = false;
    bool scanWanted_ = true;  // window thread only
};
