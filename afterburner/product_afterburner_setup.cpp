// The Afterburner step's outside world in the shipped program, alone in this file so that a test
// build of the program can supply its own.
#include "afterburner/afterburner.h"
#include "foundation/scheduled_task.h"
#include "foundation/system.h"
#include "driver/driver_clean.h"

const AfterburnerSetup& ProductAfterburnerSetup() {
    static const AfterburnerSetup setup = [] {
        AfterburnerSetup s;
        s.driverTools = &ProductDriverTools();
        // The system's own 32-bit program folder, never the environment: this process is elevated.
        s.programFilesX86 = SystemFolderPath(SystemFolder::ProgramFilesX86);
        s.afterburnerKey = L"SOFTWARE\\MSI\\Afterburner";
        s.rtssKey = L"SOFTWARE\\Unwinder\\RTSS";
        s.archivePath = L"/pub/games/PC/guru3d/afterburner/%5BGuru3D%5D-MSIAfterburnerSetup466Build16757.zip";
        s.archiveSha256 = L"348e9690a638d84e30e32e9c7c2dd7aad9fd82d71eced1942c04c4c5620b0e1e";
        s.schtasks = SystemToolPath(L"schtasks.exe");
        s.isAdministrator = AccountIsAdministrator;
        s.nvapi = SystemToolPath(L"nvapi64.dll");
        s.readStatus = ReadScannerStatus;
        return s;
    }();
    return setup;
}
