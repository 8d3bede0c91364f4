#pragma once
// The operations the screens call, each handed to the part of the window that owns it: the
// workflow for a step, the flow driver for the guided flow and Full tune, the monitor for scans
// and repairs, the feeds for the ledger, the update notice, and the window itself.
#include "gui/flow_driver.h"
#include "gui/game_check.h"
#include "gui/health_monitor.h"
#include "gui/questions.h"
#include "gui/screen_feeds.h"
#include "gui/screens/screen.h"
#include "gui/update_notice.h"
#include "gui/window_host.h"
#include "gui/workflow.h"

struct WindowParts {
    const GuiHooks& hooks;
    Workflow& workflow;
    FlowDriver& flow;
    HealthMonitor& monitor;
    ScreenFeeds& feeds;
    UpdateNotice& update;
    WindowHost& host;
    Questions& questions;
    GameCheck& game;
};

class ScreenActions final : public ScreenOps {
public:
    explicit ScreenActions(const WindowParts& parts) : p_(parts) {}

    void GoHome() override { p_.flow.GoHome(); }
    void SetStage(int stageValue) override { p_.workflow.SetStage(stageValue); }
    void OpenHealth(bool scan) override;
    void StartHealthScan() override { p_.monitor.StartScan(); }
    void RepairArea(const std::wstring& area) override { p_.monitor.RepairArea(area, true); }
    void PutBackChange(const ChangeRow& change) override { p_.feeds.PutBack(change); }
    void OpenHomeTile(int index) override;
    void StartGuidedStep(int step) override { p_.flow.StartGuidedStep(step); }
    void StartStep(int slot) override { p_.workflow.StartTweak(slot, true); }
    void RetryStep(int slot) override { p_.flow.RetryStep(slot); }
    void StopStep(int slot) override { p_.workflow.StopSlot(slot); }
    void StartMeasure() override { p_.workflow.StartBenchmark(true); }
    void StartInstall(uint32_t period) override { p_.workflow.StartInstall(true, period); }
    void SetWanted(int slot, bool wanted) override { p_.workflow.SetWanted(slot, wanted); }
    void SetAllWanted(bool wanted) override { p_.workflow.SetAllWanted(wanted); }
    void SetFidelity(int level) override { p_.workflow.SetFidelity(level); }
    void BeginFullTune() override { p_.flow.BeginFullTune(); }
    void GpuLookup() override { p_.workflow.BeginGpuLookup(); }
    void GpuDownload() override { p_.workflow.BeginGpuDownload(); }
    void GpuInstall() override { p_.workflow.BeginGpuInstall(); }
    void RetryGpuClean() override { p_.flow.RetryGpuClean(); }
    void ContinueAfterDriver() override { p_.flow.ContinueAfterDriver(); }
    void SkipGpuDriver(bool guided) override { p_.flow.SkipGpuDriver(guided); }
    void RetryRestorePoint() override { p_.workflow.ResetSlot(SlotPrepare); }
    void AcceptRestoreFailure() override { p_.flow.AcceptRestoreFailure(); }
    void StartAfterburnerInTune() override { p_.flow.StartAfterburnerInTune(); }
    void SkipAfterburnerInTune() override { p_.flow.SkipAfterburnerInTune(); }
    void ToggleMaintainTiming() override { p_.monitor.ToggleMaintainTiming(); }
    void RequestUpdatePrompt() override { p_.update.RequestPrompt(); }
    void OpenLog() override;
    void RequestClose() override { p_.host.Close(); }
    void RestartComputer() override;
    void OpenGameCheck() override;
    void ChoosePresentMon() override;
    void StartGameCheck(const std::wstring& game, int minutes) override { p_.game.Start(game, minutes); }
    void StopGameCheck() override { p_.game.Stop(); }

private:
    WindowParts p_;
};
