// A stand-in srclient.dll that keeps System Restore's rules as SRSetRestorePointW's documentation
// states them, with its list of restore points in HKCU\Software\QuorvantisTests\FakeSrClient:
//   - BEGIN_SYSTEM_CHANGE (100) makes a restore point ("RestorePoints" counts them, the newest
//     keeps its sequence number in "LastSequence", from 7, and its time in "LastCreated"), unless
//     one was made within SystemRestorePointCreationFrequency minutes (HKLM ...\Windows NT\
//     CurrentVersion\SystemRestore; 24 hours when absent, never skipped at 0): then nothing is
//     made, and the call still succeeds with ERROR_SUCCESS and the earlier point's number;
//   - END_SYSTEM_CHANGE (101) must name the point the change began with ("Open"); any other
//     number fails with ERROR_INVALID_DATA; CANCELLED_OPERATION (13) with it removes the point;
//   - "BlockMs" (DWORD) makes the call sleep first, so a test can catch the program inside it,
//     as Windows holds it while it writes the restore point.
#include <windows.h>

#include <cstdint>

namespace {

constexpr const wchar_t* kKey = L"Software\\QuorvantisTests\\FakeSrClient";
constexpr DWORD kBeginSystemChange = 100;
constexpr DWORD kEndSystemChange = 101;
constexpr DWORD kCancelledOperation = 13;

#pragma pack(push, 1)
struct RestorePointInfoW {
    DWORD eventType;
    DWORD restorePointType;
    INT64 sequenceNumber;
    WCHAR description[256];
};
#pragma pack(pop)

struct StateManagerStatus {
    DWORD status;
    INT64 sequenceNumber;
};

DWORD ReadDword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof(value);
    return RegGetValueW(root, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS ? value : fallback;
}

bool ReadQword(const wchar_t* name, uint64_t& value) {
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_QWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

void WriteQword(const wchar_t* name, uint64_t value) { RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_QWORD, &value, sizeof(value)); }

void WriteDword(const wchar_t* name, DWORD value) { RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_DWORD, &value, sizeof(value)); }

uint64_t Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI SRSetRestorePointW(const RestorePointInfoW* info, StateManagerStatus* status) {
    Sleep(ReadDword(HKEY_CURRENT_USER, kKey, L"BlockMs", 0));
    status->status = ERROR_SUCCESS;
    status->sequenceNumber = 0;
    if (info == nullptr) {
        status->status = ERROR_INVALID_DATA;
        return FALSE;
    }
    uint64_t last = 0, created = 0, open = 0;
    const bool any = ReadQword(L"LastSequence", last) && ReadQword(L"LastCreated", created);
    if (info->eventType == kBeginSystemChange) {
        const DWORD minutes = ReadDword(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                                        L"SystemRestorePointCreationFrequency", 24 * 60);
        if (any && minutes != 0 && Now() - created < static_cast<uint64_t>(minutes) * 60 * 10000000) {
            status->sequenceNumber = static_cast<INT64>(last);  // skipped: the earlier point's number
            return TRUE;
        }
        const uint64_t sequence = any ? last + 1 : 7;
        WriteQword(L"LastSequence", sequence);
        WriteQword(L"LastCreated", Now());
        WriteQword(L"Open", sequence);
        WriteDword(L"RestorePoints", ReadDword(HKEY_CURRENT_USER, kKey, L"RestorePoints", 0) + 1);
        status->sequenceNumber = static_cast<INT64>(sequence);
        return TRUE;
    }
    if (info->eventType == kEndSystemChange) {
        if (!ReadQword(L"Open", open) || open != static_cast<uint64_t>(info->sequenceNumber)) {
            status->status = ERROR_INVALID_DATA;
            return FALSE;
        }
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Open");
        if (info->restorePointType == kCancelledOperation) {
            const DWORD points = ReadDword(HKEY_CURRENT_USER, kKey, L"RestorePoints", 0);
            WriteDword(L"RestorePoints", points > 0 ? points - 1 : 0);
        }
        status->sequenceNumber = info->sequenceNumber;
        return TRUE;
    }
    status->status = ERROR_INVALID_DATA;
    return FALSE;
}
