// A stand-in srclient.dll: SRSetRestorePointW succeeds with sequence number 7 after sleeping
// for HKCU\Software\QuorvantisTests\FakeSrClient "BlockMs" (DWORD, 0 when absent), so a test
// can catch the program inside the call, as Windows holds it while it writes the restore point.
#include <windows.h>

#include <cstdint>

namespace {

struct StateManagerStatus {
    DWORD status;
    INT64 sequenceNumber;
};

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI SRSetRestorePointW(void*, StateManagerStatus* status) {
    DWORD block = 0, size = sizeof(block);
    RegGetValueW(HKEY_CURRENT_USER, L"Software\\QuorvantisTests\\FakeSrClient", L"BlockMs", RRF_RT_REG_DWORD, nullptr,
                 &block, &size);
    Sleep(block);
    status->status = 0;
    status->sequenceNumber = 7;
    return TRUE;
}
