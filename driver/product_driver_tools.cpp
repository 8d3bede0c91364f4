// The driver tools of the shipped program, alone in this file so that a test build of the
// program can supply a table that points at a local server instead.
#include <windows.h>

#include <algorithm>

#include "foundation/system.h"
#include "driver/driver_clean.h"

const DriverTools& ProductDriverTools() {
    static const DriverTools tools = [] {
        DriverTools t;
        t.hosts = &ProductVendorHosts();
        t.tar = SystemToolPath(L"tar.exe");
        t.pnputil = SystemToolPath(L"pnputil.exe");
        // Only the system's own Program Files folders: never the environment or the search path,
        // which a standard user controls and this elevated process would then run from.
        for (const std::wstring& root : {SystemFolderPath(SystemFolder::ProgramFiles), SystemFolderPath(SystemFolder::ProgramFilesX86)}) {
            if (root.empty()) continue;
            const std::wstring path = root + L"\\7-Zip\\7z.exe";
            if (std::none_of(t.sevenZipPaths.begin(), t.sevenZipPaths.end(), [&](const std::wstring& p) { return SamePath(p, path); })) {
                t.sevenZipPaths.push_back(path);
            }
        }
        t.verifySignature = VerifyPublisherSignature;
        return t;
    }();
    return tools;
}

