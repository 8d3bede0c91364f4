#include "foundation/scheduled_task.h"

#include <windows.h>
#include <lm.h>
#include <wtsapi32.h>

#include "foundation/files.h"
#include "foundation/installer.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

using QuerySessionFn = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
using FreeMemoryFn = void(WINAPI*)(PVOID);

std::wstring SessionText(QuerySessionFn query, FreeMemoryFn release, DWORD session, WTS_INFO_CLASS what) {
    LPWSTR text = nullptr;
    DWORD bytes = 0;
    if (!query(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes) || text == nullptr) return {};
    std::wstring value = text;
    release(text);
    return value;
}

}  // namespace

bool AccountIsAdministrator(const std::wstring& account) {
    const UniqueModule netapi(static_cast<HMODULE>(LoadSystemLibrary(L"netapi32.dll")));
    using GetGroupsFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD);
    using FreeFn = DWORD(WINAPI*)(LPVOID);
    const auto getGroups =
        netapi ? reinterpret_cast<GetGroupsFn>(reinterpret_cast<void*>(GetProcAddress(netapi.get(), "NetUserGetLocalGroups"))) : nullptr;
    const auto freeBuffer =
        netapi ? reinterpret_cast<FreeFn>(reinterpret_cast<void*>(GetProcAddress(netapi.get(), "NetApiBufferFree"))) : nullptr;
    if (getGroups == nullptr || freeBuffer == nullptr) return true;
    // The group's name in this Windows' own language.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    wchar_t administrators[257] = {}, domain[257] = {};
    DWORD nameLength = 257, domainLength = 257;
    SID_NAME_USE use{};
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) ||
        !LookupAccountSidW(nullptr, sid, administrators, &nameLength, domain, &domainLength, &use)) {
        return true;
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    const DWORD status = getGroups(nullptr, account.c_str(), 0, LG_INCLUDE_INDIRECT, &buffer, MAX_PREFERRED_LENGTH, &read, &total);
    if (status != NERR_Success || buffer == nullptr) {
        if (buffer != nullptr) freeBuffer(buffer);
        return true;
    }
    bool member = false;
    const auto* groups = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer);
    for (DWORD i = 0; i < read; ++i) {
        if (groups[i].lgrui0_name != nullptr && _wcsicmp(groups[i].lgrui0_name, administrators) == 0) member = true;
    }
    freeBuffer(buffer);
    return member;
}

std::wstring InteractiveAccount() {
    // Over-the-shoulder elevation runs this process as an administrator while someone else sits
    // at the desktop; the session says who that is.
    const UniqueModule wts(static_cast<HMODULE>(LoadSystemLibrary(L"wtsapi32.dll")));
    if (wts) {
        const auto query = reinterpret_cast<QuerySessionFn>(reinterpret_cast<void*>(GetProcAddress(wts.get(), "WTSQuerySessionInformationW")));
        const auto release = reinterpret_cast<FreeMemoryFn>(reinterpret_cast<void*>(GetProcAddress(wts.get(), "WTSFreeMemory")));
        DWORD session = 0;
        if (query != nullptr && release != nullptr && ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
            const std::wstring user = SessionText(query, release, session, WTSUserName);
            const std::wstring domain = SessionText(query, release, session, WTSDomainName);
            if (!user.empty()) return domain.empty() ? user : domain + L"\\" + user;
        }
    }
    wchar_t user[257] = {};
    DWORD length = 257;
    if (!GetUserNameW(user, &length)) return {};
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computerLength = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(computer, &computerLength) ? std::wstring(computer) + L"\\" + user : std::wstring(user);
}

bool RegisterScheduledTask(const std::wstring& schtasks, const std::wstring& name, const ScheduledTaskDefinition& task,
                           std::wstring& error) {
    error.clear();
    const std::wstring folder = DataDirectory();
    const std::wstring file = folder + FormatText(L"\\task-%lu.xml", GetCurrentProcessId());
    {
        UniqueKernelHandle out;
        if (EnsureFolder(folder)) out.reset(static_cast<HANDLE>(CreateNewFile(file)));
        const std::wstring xml = L"\uFEFF" + ScheduledTaskXml(task);
        const DWORD bytes = static_cast<DWORD>(xml.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!out || !WriteFile(out.get(), xml.data(), bytes, &written, nullptr) || written != bytes) {
            error = L"The task definition could not be written.";
            DeleteFileW(file.c_str());
            return false;
        }
    }
    const InstallerRunResult run =
        RunInstaller(schtasks, L"\"" + schtasks + L"\" /Create /F /TN \"" + name + L"\" /XML \"" + file + L"\"", L"", 20000, true, true);
    DeleteFileW(file.c_str());
    if (!run.started || run.timedOut || run.exitCode != 0) {
        error = FormatText(L"schtasks did not register the task (%lu).", static_cast<unsigned long>(run.started ? run.exitCode : run.startError));
        return false;
    }
    return true;
}

std::wstring OwnTaskRecord(const std::wstring& name) { return L"TaskMade_" + name; }

namespace {

constexpr const wchar_t* kTrayTaskPrefix = L"Quorvantis Tray (";

}  // namespace

std::wstring TrayTaskName(const std::wstring& account) {
    // A task's name may not hold a backslash: the account's own name, without its domain.
    return kTrayTaskPrefix + account.substr(account.find_last_of(L'\\') + 1) + L")";
}

std::vector<std::wstring> RecordedTrayTasks() {
    std::vector<std::wstring> tasks;
    const std::wstring record = OwnTaskRecord(kTrayTaskPrefix);
    for (const std::wstring& name : RegistryValueNames(RegRoot::LocalMachine, kStateKey)) {
        if (name.size() > record.size() && _wcsnicmp(name.c_str(), record.c_str(), record.size()) == 0) {
            tasks.push_back(name.substr(OwnTaskRecord(L"").size()));
        }
    }
    return tasks;
}
