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

bool CreateRestorePoint(std::wstring& text);
bool RunPrepare();
