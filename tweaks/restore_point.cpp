#include "tweaks/restore_point.h"

#include <windows.h>

#include <cwchar>
#include <memory>

#include "foundation/log.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/pacing.h"
#include "tweaks/tweak_walk.h"

namespace {

// Declared here from the System Restore documentation: srrestoreptapi.h is not in MinGW.
#pragma pack(push, 1)
struct RestorePointInfoW {
    DWORD eventType;
    DWORD restorePointType;
    INT64 sequenceNumber;
    WCHAR description[256];
};
struct StateManagerStatus {
    DWORD status;
    INT64 sequenceNumber;
};
#pragma pack(pop)

constexpr DWORD kModifySettings = 12;
constexpr const wchar_t* kRestoreDescription = L"Quorvantis pre-tune";

class WindowsSystemRestoreClient final : public SystemRestoreClient {
public:
    Availability Load() override {
        module_.reset(static_cast<HMODULE>(LoadSystemLibrary(L"srclient.dll")));
        if (!module_) return Availability::NotInstalled;
        setRestorePoint_ = reinterpret_cast<SetRestorePointFn>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), "SRSetRestorePointW")));
        if (setRestorePoint_ == nullptr) {
            module_.reset();
            return Availability::EntryMissing;
        }
        return Availability::Ready;
    }
    bool SetRestorePoint(uint32_t eventType, int64_t& sequence, uint32_t& status) override {
        RestorePointInfoW info{};
        info.eventType = eventType;
        info.restorePointType = kModifySettings;
        info.sequenceNumber = sequence;
        wcsncpy(info.description, kRestoreDescription, 255);
        StateManagerStatus result{};
        const BOOL ok = setRestorePoint_(&info, &result);
        sequence = result.sequenceNumber;
        status = result.status;
        return ok != FALSE;
    }
    void Unload() override {
        setRestorePoint_ = nullptr;
        module_.reset();
    }

private:
    using SetRestorePointFn = BOOL(WINAPI*)(RestorePointInfoW*, StateManagerStatus*);
    UniqueModule module_;
    SetRestorePointFn setRestorePoint_ = nullptr;
};

SystemRestoreClient* g_client = nullptr;

constexpr const wchar_t* kSystemRestoreKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
constexpr const wchar_t* kFrequencyValue = L"SystemRestorePointCreationFrequency";

const ValueRecordNames kFrequencyRecord{L"RestoreFrequencyHad", L"RestoreFrequencyPrev", L"RestoreFrequencyKey"};
constexpr const wchar_t* kFrequencyId = L"prepare.frequency";
constexpr const wchar_t* kStep = L"Prepare";

// Windows quietly skips an application's restore point (and still reports success) when any
// other was made within the creation frequency, 24 hours by default. A frequency of 0 never
// skips, so it is set for this one call, with the previous setting on record first. The record
// outlives a process that dies inside the call: the next start puts the value back.
class AllowRestorePointNow {
public:
    AllowRestorePointNow() {
        // A record left by a run that died in the call holds the user's value; ours is the 0.
        RecordValueOnce(RegRoot::LocalMachine, kSystemRestoreKey, kFrequencyValue, kFrequencyRecord);
        WriteDword(RegRoot::LocalMachine, kSystemRestoreKey, kFrequencyValue, 0);
    }
    ~AllowRestorePointNow() { RecoverRestorePointFrequency(nullptr); }
    AllowRestorePointNow(const AllowRestorePointNow&) = delete;
    AllowRestorePointNow& operator=(const AllowRestorePointNow&) = delete;
};

}  // namespace

void RecoverRestorePointFrequency(RestoreLedger* ledger) {
    if (ledger != nullptr && !ledger->Includes(kFrequencyId)) return;
    RestoreLedger own;
    switch (RestoreRecordedValue(RegRoot::LocalMachine, kSystemRestoreKey, kFrequencyValue, kFrequencyRecord,
                                 ledger != nullptr ? *ledger : own)) {
    case RestoreResult::Restored:
        for (const std::wstring& name : kFrequencyRecord.All()) DeleteStateValue(name);
        break;
    case RestoreResult::Failed:
        LogError(L"SystemRestorePointCreationFrequency could not be put back; it stays on record.");
        break;
    case RestoreResult::NothingRecorded:
        break;
    }
}

SystemRestoreClient& CurrentSystemRestoreClient() {
    static WindowsSystemRestoreClient windowsClient;
    return g_client != nullptr ? *g_client : windowsClient;
}

void SetSystemRestoreClient(SystemRestoreClient* client) { g_client = client; }

bool CreateRestorePoint(std::wstring& text) {
    SystemRestoreClient& client = CurrentSystemRestoreClient();
    switch (client.Load()) {
    case SystemRestoreClient::Availability::NotInstalled:
        text = L"srclient.dll not available (System Restore is not installed)";
        return false;
    case SystemRestoreClient::Availability::EntryMissing:
        text = L"SRSetRestorePointW missing";
        return false;
    case SystemRestoreClient::Availability::Ready:
        break;
    }
    int64_t sequence = 0;
    uint32_t status = 0;
    bool created = false;
    {
        const AllowRestorePointNow allow;
        created = client.SetRestorePoint(100, sequence, status);  // BEGIN_SYSTEM_CHANGE
    }
    if (created) {
        int64_t endSequence = sequence;
        uint32_t ignored = 0;
        client.SetRestorePoint(101, endSequence, ignored);  // END_SYSTEM_CHANGE
        text = FormatText(L"restore point #%lld created", static_cast<long long>(sequence));
    } else {
        text = FormatText(L"System Restore refused the checkpoint (status %lu). Enable it in System Protection.",
                          static_cast<unsigned long>(status));
    }
    client.Unload();
    return created;
}

namespace {

// What the walk shows of the two one-way actions, filled in as they run.
struct PrepareOutcome {
    uint32_t protectionExit = 0;
    bool created = false;
    std::wstring restorePoint;
};

void PlanPrepareInto(StepPlan& plan, const std::shared_ptr<PrepareOutcome>& outcome) {
    const std::wstring drive = SystemDrive();
    ChangeRow protection;
    protection.id = L"prepare.protection";
    protection.setting = L"System Protection of " + drive + L"\\ (Enable-ComputerRestore)";
    protection.keeping = ChangeKeeping::OneWay;
    protection.ours = L"on";
    // Windows offers no plain way to read it; the cmdlet leaves a drive that has it on as it is.
    protection.state = ChangeState::WouldChange;
    plan.Add(std::move(protection), 0, nullptr, [drive, outcome] {
        outcome->protectionExit =
            RunPowerShell(L"Enable-ComputerRestore -Drive '" + drive + L"\\' -ErrorAction SilentlyContinue", 60000);
        return outcome->protectionExit == 0;
    });
    ChangeRow frequency = DescribeRegistryChange(kStep, RegRoot::LocalMachine, kSystemRestoreKey, kFrequencyValue,
                                                 kFrequencyRecord, DwordValue(0), true);
    frequency.id = kFrequencyId;
    frequency.keeping = ChangeKeeping::Temporary;
    frequency.setting += L" (for the restore point's call only)";
    // Set and put back inside the restore point's own change.
    plan.Add(std::move(frequency), 1, nullptr, nullptr);
    ChangeRow point;
    point.id = L"prepare.restore-point";
    point.setting = L"System Restore point \"Quorvantis pre-tune\"";
    point.keeping = ChangeKeeping::OneWay;
    point.currentRead = true;
    point.current = L"not made by this run";
    point.ours = L"created";
    point.state = ChangeState::WouldChange;
    plan.Add(std::move(point), 1, nullptr, [outcome] {
        outcome->created = CreateRestorePoint(outcome->restorePoint);
        return outcome->created;
    });
}

}  // namespace

StepPlan PlanPrepare(const PlanContext&) {
    StepPlan plan;
    plan.step = kStep;
    PlanPrepareInto(plan, std::make_shared<PrepareOutcome>());
    return plan;
}

bool RunPrepare() {
    const auto outcome = std::make_shared<PrepareOutcome>();
    StepPlan plan;
    plan.step = kStep;
    PlanPrepareInto(plan, outcome);
    FeedExplanation(L"Prepare", L"Creates a System Restore point named 'Quorvantis pre-tune' so you can roll back if a "
                                L"later change is unstable.");
    FeedStage(L"PREPARE", L"creating a System Restore point");
    const std::wstring drive = SystemDrive();
    ItemList items({
        {L"SYSPROTECT", L"enable System Restore on " + drive,
         L"Windows only creates restore points if System Protection is on for the system drive.",
         L"Enable-ComputerRestore -Drive " + drive + L"\\", TweakPending},
        {L"RESTOREPT", L"create restore point",
         L"Named 'Quorvantis pre-tune' so you can roll back from System Restore if anything is unstable.",
         L"SRSetRestorePoint  \u2192  Quorvantis pre-tune", TweakPending},
    });
    items.Publish();
    DwellCancellable(1000);

    items.Begin(0);
    DwellCancellable(1400);
    CommitCounts counts;
    CommitItem(plan, 0, counts);
    // A warning from the cmdlet does not stop the restore point from being tried.
    const std::wstring protection = outcome->protectionExit == 0 ? L"System Protection enabled (or already on)"
                                                                 : L"Enable-ComputerRestore returned a warning; continuing";
    items.Finish(0, TweakWritten, &protection);
    LogInfo(FormatText(L"  System Protection: %ls", protection.c_str()));

    items.Begin(1);
    FeedStage(L"PREPARE", L"writing the restore point (this can take a minute)");
    DwellCancellable(800);
    CommitItem(plan, 1, counts);
    items.Finish(1, outcome->created ? TweakWritten : TweakFailed, &outcome->restorePoint);
    LogInfo(FormatText(L"  restore point: %ls", outcome->restorePoint.c_str()));
    DwellCancellable(800);

    WriteStateDword(L"PrepareApplied", 1);
    if (outcome->created) WriteStateDword(L"RestorePointOk", 1);
    return true;
}

void LedgerPrepare(std::vector<ChangeRow>& out) {
    if (!StateValueExists(kFrequencyRecord.had)) return;
    ChangeRow row = DescribeRegistryChange(kStep, RegRoot::LocalMachine, kSystemRestoreKey, kFrequencyValue, kFrequencyRecord,
                                           DwordValue(0), false);
    row.id = kFrequencyId;
    row.keeping = ChangeKeeping::Temporary;
    out.push_back(std::move(row));
}
