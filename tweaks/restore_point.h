#pragma once
// Prepare: System Protection on for C: and a "Quorvantis pre-tune" restore point.
#include <cstdint>
#include <string>

// The System Restore client (srclient.dll), loaded at run time. Tests install a fake.
class SystemRestoreClient {
public:
    enum class Availability { Ready, NotInstalled, EntryMissing };
    virtual ~SystemRestoreClient() = default;
    virtual Availability Load() = 0;
    // SRSetRestorePointW; sequence and status are what Windows reports back.
    virtual bool SetRestorePoint(uint32_t eventType, int64_t& sequence, uint32_t& status) = 0;
    virtual void Unload() = 0;
};
SystemRestoreClient& CurrentSystemRestoreClient();
void SetSystemRestoreClient(SystemRestoreClient* client);

#include <vector>

#include "foundation/change_plan.h"

class RestoreLedger;

bool CreateRestorePoint(std::wstring& text);
// Puts SystemRestorePointCreationFrequency back when a record of it is left (a run that died
// while Windows wrote its restore point), and removes the record. Safe to call at any start.
void RecoverRestorePointFrequency(RestoreLedger* ledger);
// What Prepare would do: System Protection on for the system drive and the restore point (both
// one-way), with the restore-point frequency lowered for that one call.
StepPlan PlanPrepare(const PlanContext& context);
bool RunPrepare();
// Prepare's one record: the restore-point frequency it lowers for its own call (on record only
// while a run is inside that call, or died there).
void LedgerPrepare(std::vector<ChangeRow>& out);
