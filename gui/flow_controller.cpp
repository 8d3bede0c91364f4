#include "gui/flow_controller.h"

bool Newly(const FlowSlots& slots, int slot, int state) {
    const auto i = static_cast<size_t>(slot);
    return slots.now[i] == state && slots.before[i] != state;
}

Advance DecideAdvance(const FlowSlots& slots, bool unattended, bool fullTuneActive) {
    if (!unattended || fullTuneActive) return {};
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!Newly(slots, slot, StepFinished)) continue;
        if (slot == SlotMeasure && slots.wanted[SlotService]) {
            const int service = slots.now[SlotService];
            return {IsBusy(service) || service == StepFinished ? AdvanceKind::ShowInstall : AdvanceKind::StartInstall, slot};
        }
        if (slot == SlotGpuDriver) return {};
        return {AdvanceKind::NextStep, slot};
    }
    return {};
}

int NextWantedStep(int after, const FlowSlots& slots) {
    int next = after + 1;
    while (next < kSlotCount && (!slots.wanted[static_cast<size_t>(next)] || !slots.available[static_cast<size_t>(next)])) ++next;
    return next;
}

RepairRefusal CheckRepair(int slot, const FlowSlots& slots, uint32_t desiredPeriod) {
    const auto i = static_cast<size_t>(slot);
    if (!slots.available[i]) return RepairRefusal::NotInThisBuild;
    if (slot == SlotService && desiredPeriod == 0) return RepairRefusal::NoPeriodMeasured;
    if (IsBusy(slots.now[i])) return RepairRefusal::AlreadyRunning;
    return RepairRefusal::None;
}

bool WatchRepairs(RepairWatch& watch, const FlowSlots& slots, bool scanBusy, bool driftPending, std::vector<RepairEnded>& ended) {
    ended.clear();
    if (watch.interactiveSlot >= 0 && HasEnded(slots.now[static_cast<size_t>(watch.interactiveSlot)])) {
        ended.push_back({watch.interactiveSlot, false, slots.now[static_cast<size_t>(watch.interactiveSlot)] == StepFinished});
        watch.interactiveSlot = -1;
        watch.rescanWanted = true;
    }
    bool anyRunning = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const auto i = static_cast<size_t>(slot);
        if (!watch.automatic[i]) continue;
        if (HasEnded(slots.now[i])) {
            ended.push_back({slot, true, slots.now[i] == StepFinished});
            watch.automatic[i] = false;
            watch.rescanWanted = true;
        } else {
            anyRunning = true;
        }
    }
    if (!watch.rescanWanted || anyRunning || scanBusy || driftPending) return false;
    watch.rescanWanted = false;
    return true;
}
