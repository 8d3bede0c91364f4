#include "tweaks/power_store.h"

#include <windows.h>

#include "foundation/system.h"

namespace {

using GetActiveSchemeFn = DWORD(WINAPI*)(HKEY, GUID**);
using SetActiveSchemeFn = DWORD(WINAPI*)(HKEY, const GUID*);
using ReadValueFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
using WriteValueFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
using WriteAttributesFn = DWORD(WINAPI*)(const GUID*, const GUID*, DWORD);
using EnumerateFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, int, ULONG, UCHAR*, DWORD*);
using DuplicateFn = DWORD(WINAPI*)(HKEY, const GUID*, GUID**);
using DeleteFn = DWORD(WINAPI*)(HKEY, const GUID*);

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return module == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class WindowsPowerStore final : public PowerStore {
public:
    WindowsPowerStore() {
        // Kept loaded for the life of the process; every call is looked up once.
        const HMODULE powrprof = static_cast<HMODULE>(LoadSystemLibrary(L"powrprof.dll"));
        getActive_ = Export<GetActiveSchemeFn>(powrprof, "PowerGetActiveScheme");
        setActive_ = Export<SetActiveSchemeFn>(powrprof, "PowerSetActiveScheme");
        readAc_ = Export<ReadValueFn>(powrprof, "PowerReadACValueIndex");
        readDc_ = Export<ReadValueFn>(powrprof, "PowerReadDCValueIndex");
        writeAc_ = Export<WriteValueFn>(powrprof, "PowerWriteACValueIndex");
        writeDc_ = Export<WriteValueFn>(powrprof, "PowerWriteDCValueIndex");
        writeAttributes_ = Export<WriteAttributesFn>(powrprof, "PowerWriteSettingAttributes");
        enumerate_ = Export<EnumerateFn>(powrprof, "PowerEnumerate");
        duplicate_ = Export<DuplicateFn>(powrprof, "PowerDuplicateScheme");
        delete_ = Export<DeleteFn>(powrprof, "PowerDeleteScheme");
    }

    bool GetActiveScheme(GUID& scheme) override {
        GUID* active = nullptr;
        if (getActive_ == nullptr || getActive_(nullptr, &active) != ERROR_SUCCESS || active == nullptr) return false;
        scheme = *active;
        LocalFree(active);
        return true;
    }
    bool SetActiveScheme(const GUID& scheme) override {
        return setActive_ != nullptr && setActive_(nullptr, &scheme) == ERROR_SUCCESS;
    }
    bool ReadValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source,
                   uint32_t& value) override {
        const ReadValueFn read = source == PowerSource::Ac ? readAc_ : readDc_;
        DWORD raw = 0;
        if (read == nullptr || read(nullptr, &scheme, &subgroup, &setting, &raw) != ERROR_SUCCESS) return false;
        value = raw;
        return true;
    }
    bool WriteValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source,
                    uint32_t value) override {
        const WriteValueFn write = source == PowerSource::Ac ? writeAc_ : writeDc_;
        return write != nullptr && write(nullptr, &scheme, &subgroup, &setting, value) == ERROR_SUCCESS;
    }
    bool WriteSettingAttributes(const GUID& subgroup, const GUID& setting, uint32_t attributes) override {
        return writeAttributes_ != nullptr && writeAttributes_(&subgroup, &setting, attributes) == ERROR_SUCCESS;
    }

    bool EnumerateScheme(uint32_t index, GUID& scheme) override {
        constexpr int kAccessScheme = 16;
        DWORD size = sizeof(GUID);
        return enumerate_ != nullptr &&
               enumerate_(nullptr, nullptr, nullptr, kAccessScheme, index, reinterpret_cast<UCHAR*>(&scheme), &size) ==
                   ERROR_SUCCESS;
    }

    bool DuplicateScheme(const GUID& source, const GUID& destination) override {
        // A pointer that already holds a GUID asks for the copy under that GUID.
        GUID wanted = destination;
        GUID* target = &wanted;
        return duplicate_ != nullptr && duplicate_(nullptr, &source, &target) == ERROR_SUCCESS;
    }
    bool DeleteScheme(const GUID& scheme) override { return delete_ != nullptr && delete_(nullptr, &scheme) == ERROR_SUCCESS; }
    bool TemplateExists(const GUID& scheme) override {
        return RegistryKeyExists(RegRoot::LocalMachine, std::wstring(kDefaultPowerSchemesKey) + L"\\" + GuidText(scheme));
    }
    bool ResetValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source) override {
        // powrprof has no call for it: the scheme's own value is a registry value over the default.
        const std::wstring key = std::wstring(kPowerSchemesKey) + L"\\" + GuidText(scheme) + L"\\" + GuidText(subgroup) + L"\\" +
                                 GuidText(setting);
        return DeleteRegistryValue(RegRoot::LocalMachine, key, source == PowerSource::Ac ? L"ACSettingIndex" : L"DCSettingIndex");
    }

private:
    DuplicateFn duplicate_ = nullptr;
    DeleteFn delete_ = nullptr;
    EnumerateFn enumerate_ = nullptr;
    GetActiveSchemeFn getActive_ = nullptr;
    SetActiveSchemeFn setActive_ = nullptr;
    ReadValueFn readAc_ = nullptr;
    ReadValueFn readDc_ = nullptr;
    WriteValueFn writeAc_ = nullptr;
    WriteValueFn writeDc_ = nullptr;
    WriteAttributesFn writeAttributes_ = nullptr;
};

PowerStore* g_store = nullptr;

}  // namespace

PowerStore& CurrentPowerStore() {
    static WindowsPowerStore windowsStore;
    return g_store != nullptr ? *g_store : windowsStore;
}

void SetPowerStore(PowerStore* store) { g_store = store; }
