#pragma once
// The program's own named objects: the lock every operation that changes the machine holds (the
// window, each locked command, the startup guard) and the log's lock. They live in a private
// namespace whose boundary names the Administrators group and which only Administrators and
// SYSTEM may open: a standard user's program can neither make them first nor hold them, and the
// SYSTEM guard's lock opens for an elevated command as an elevated command's opens for the guard.
// Wine has no private namespaces (the seam's fake stands for one in tests).
#include "foundation/unique_handle.h"

class ObjectNamespace {
public:
    virtual ~ObjectNamespace() = default;
    // Creates or opens the mutex of that short name; GetLastError() is ERROR_ALREADY_EXISTS when
    // it was opened. Null, with the system's error, when it can be neither.
    virtual HANDLE OpenMutex(const wchar_t* name) = 0;
};
ObjectNamespace& CurrentObjectNamespace();
void SetObjectNamespace(ObjectNamespace* space);  // null: the real one

enum class LockState {
    Held,        // this process holds it
    Busy,        // another process does
    Unavailable  // it could not be made or opened: nothing may run as if it were held
};

// The machine-wide operation lock, held for the life of the object when Take says Held.
class OperationLock {
public:
    LockState Take();
    DWORD Error() const { return error_; }

private:
    UniqueKernelHandle mutex_;
    DWORD error_ = 0;
};

// The words for a lock that is not Held.
const wchar_t* LockRefusal(LockState state);
