// The natively built step tables share the step catalogue, whose rows name each step's engine
// functions. Those need Windows and are never called here: each one does nothing or fails.
#include "gpu/gpu_tweaks.h"
#include "service/install_plan.h"
#include "service/step_ledger.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/restore_point.h"

StepPlan PlanPrepare(const PlanContext&) { return {}; }
bool RunPrepare() { return false; }
void LedgerPrepare(std::vector<ChangeRow>&) {}
StepPlan PlanInstall(const PlanContext&) { return {}; }
void LedgerInstall(std::vector<ChangeRow>&) {}
StepPlan PlanCpuTune(const PlanContext&) { return {}; }
bool ApplyCpuTune() { return false; }
void LedgerCpuTune(std::vector<ChangeRow>&) {}
void HardenCpuTune() {}
StepPlan PlanGpuTweaks(const PlanContext&) { return {}; }
bool ApplyGpuTweaks() { return false; }
void LedgerGpuTweaks(std::vector<ChangeRow>&) {}
void HardenGpu() {}
StepPlan PlanAfterburner(const PlanContext&) { return {}; }
void LedgerAfterburner(std::vector<ChangeRow>&) {}
StepPlan PlanMemory(const PlanContext&) { return {}; }
bool ApplyMemory() { return false; }
bool TurnOffMemoryCompression() { return false; }
void LedgerMemory(std::vector<ChangeRow>&) {}
StepPlan PlanStorage(const PlanContext&) { return {}; }
bool ApplyStorage() { return false; }
void LedgerStorage(std::vector<ChangeRow>&) {}
void HardenStorage() {}
int RestoreCpuTune(RestoreLedger&) { return 0; }
void RestorePowerPlan(RestoreLedger&) {}
bool RestoreGpuTweaks(RestoreLedger&) { return false; }
void RemoveAfterburnerTasks(RestoreLedger&) {}
bool RestoreMemory(RestoreLedger&) { return false; }
bool RestoreStorage(RestoreLedger&) { return false; }
void RecoverRestorePointFrequency(RestoreLedger*) {}
void RestoreInstall(RestoreLedger&) {}
