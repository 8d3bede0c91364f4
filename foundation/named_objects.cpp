#include "foundation/named_objects.h"

#include <sddl.h>

#include <string>

namespace {

// Only SYSTEM and Administrators may open the namespace or what is in it.
constexpr const wchar_t* kAdministratorsOnly = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

struct LocalDescriptor {
    PSECURITY_DESCRIPTOR memory = nullptr;
    LocalDescriptor() {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1, &memory, nullptr);
    }
    ~LocalDescriptor() { LocalFree(memory); }
};

class PrivateNamespace final : public ObjectNamespace {
public:
    PrivateNamespace() {
        HANDLE boundary = CreateBoundaryDescriptorW(L"Quorvantis", 0);
        // A system without private namespaces (Wine) makes no boundary; there the objects keep
        // their global names, with the same administrators-only list.
        if (boundary == nullptr) return;
        available_ = true;
        BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
        DWORD size = sizeof(administrators);
        if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
            AddSIDToBoundaryDescriptor(&boundary, administrators)) {
            LocalDescriptor descriptor;
            SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.memory, FALSE};
            namespace_ = CreatePrivateNamespaceW(&attributes, boundary, L"Quorvantis");
            if (namespace_ == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
                namespace_ = OpenPrivateNamespaceW(boundary, L"Quorvantis");
            }
            error_ = namespace_ == nullptr ? GetLastError() : 0;
        } else {
            error_ = GetLastError();
        }
        DeleteBoundaryDescriptor(boundary);
    }
    HANDLE OpenMutex(const wchar_t* name) override {
        if (available_ && namespace_ == nullptr) {
            SetLastError(error_ != 0 ? error_ : ERROR_ACCESS_DENIED);
            return nullptr;
        }
        const std::wstring full = (available_ ? std::wstring(L"Quorvantis\\") : std::wstring(L"Global\\Quorvantis.")) + name;
        LocalDescriptor descriptor;
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.memory, FALSE};
        return CreateMutexW(&attributes, FALSE, full.c_str());
    }

private:
    bool available_ = false;
    HANDLE namespace_ = nullptr;
    DWORD error_ = 0;
};

ObjectNamespace* g_space = nullptr;

}  // namespace

ObjectNamespace& CurrentObjectNamespace() {
    // Kept for the life of the process, never destroyed: the objects inside are reachable only
    // while the namespace is open, and the log takes its lock until the very last line.
    static PrivateNamespace* const real = new PrivateNamespace();
    return g_space != nullptr ? *g_space : *real;
}

void SetObjectNamespace(ObjectNamespace* space) { g_space = space; }

LockState OperationLock::Take() {
    mutex_.reset(CurrentObjectNamespace().OpenMutex(L"Operation"));
    error_ = GetLastError();
    if (!mutex_) return LockState::Unavailable;
    if (error_ == ERROR_ALREADY_EXISTS) {
        mutex_.reset();
        return LockState::Busy;
    }
    error_ = 0;
    return LockState::Held;
}

const wchar_t* LockRefusal(LockState state) {
    return state == LockState::Busy ? L"Another Quorvantis operation is already running."
                                    : L"Quorvantis could not take its lock, so nothing was changed; try again.";
}
