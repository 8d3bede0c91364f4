// The program as shipped, except that GPU Clean talks to the local vendor server and runs the
// fake vendor tools: QV_TEST_VENDOR_PORT names the server's port, QV_TEST_TOOLS_DIR holds tar.exe
// and pnputil.exe, and 7-Zip is looked for under QV_FAKE_INSTALL_DIR. Signatures are accepted and
// recorded in QV_FAKE_TOOL_LOG as "signature <publisher>" (test packages carry none).
#include <windows.h>

#include "foundation/text.h"
#include "gpu/driver_clean.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

bool RecordSignature(const std::wstring&, const std::wstring& publisher, std::wstring&) {
    const std::wstring log = Environment(L"QV_FAKE_TOOL_LOG");
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        const std::string line = "signature " + ToUtf8(publisher) + "\n";
        DWORD written = 0;
        WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(f);
    }
    return true;
}

}  // namespace

const DriverTools& ProductDriverTools() {
    static const VendorHosts hosts = [] {
        VendorHosts h;
        for (auto& allowed : h.allowed) allowed = {L"localhost"};
        h.nvidiaLookup = h.packageGallery = h.sevenZipWeb = h.amdSupport = h.afterburnerMirror =
            L"localhost:" + Environment(L"QV_TEST_VENDOR_PORT");
        return h;
    }();
    static const DriverTools tools = [] {
        DriverTools t;
        t.hosts = &hosts;
        t.tar = Environment(L"QV_TEST_TOOLS_DIR") + L"\\tar.exe";
        t.pnputil = Environment(L"QV_TEST_TOOLS_DIR") + L"\\pnputil.exe";
        t.sevenZipPaths = {Environment(L"QV_FAKE_INSTALL_DIR") + L"\\7-Zip\\7z.exe"};
        t.verifySignature = RecordSignature;
        return t;
    }();
    return tools;
}
