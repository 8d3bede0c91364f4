// A stand-in srclient.dll: SRSetRestorePointW succeeds with sequence number 7 after sleeping
// for HKCU\Software\QuorvantisTests\FakeSrClient "BlockMs" (DWORD, 0 when absent), so a test
// can catch the program inside the call, as Windows holds it while it writes the restore point.
// Each restore point begun (BEGIN_SYSTEM_CHANGE, 100) counts in "RestorePoints" there: the
// restore point list Windows would show.
#include <windows.h>

#include <cstdint>

namespace {

struct StateManagerStatus {
    DWORD status;
    INT64 sequenceNumber;
};

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI SRSetRestorePointW(const DWORD* info, StateManagerStatus* status) {
    constexpr const wchar_t* kKey = L"Software\\QuorvantisTests\\FakeSrClient";
    DWORD block = 0, size = sizeof(block);
    RegGetValueW(HKEY_CURRENT_USER, kKey, L"BlockMs", RRF_RT_REG_DWORD, nullptr, &block, &size);
    if (info != nullptr && info[0] == 100) {
        DWORD points = 0;
        size = sizeof(points);
        RegGetValueW(HKEY_CURRENT_USER, kKey, L"RestorePoints", RRF_RT_REG_DWORD, nullptr, &points, &size);
        ++points;
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"RestorePoints", REG_DWORD, &points, sizeof(points));
    }
    Sleep(block);
    status->status = 0;
    status->sequenceNumber = 7;
    return TRUE;
}
