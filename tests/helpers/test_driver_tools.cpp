// The program as shipped, except that GPU Clean and Afterburner talk to the local vendor server and
// run the fake vendor tools: QV_TEST_VENDOR_PORT names the server's port, QV_TEST_TOOLS_DIR holds
// tar.exe, pnputil.exe and schtasks.exe, 7-Zip is looked for under QV_FAKE_INSTALL_DIR, Afterburner
// under QV_FAKE_PROGRAMS_X86 or where QV_FAKE_AFTERBURNER_KEY and QV_FAKE_RTSS_KEY record it, its
// archive is /files/afterburner.zip with the digest in QV_TEST_AFTERBURNER_SHA256, 7-Zip's
// installer is pinned to QV_TEST_SEVENZIP_SHA256, PresentMon's release to QV_TEST_PRESENTMON_SHA256, and QV_TEST_NVAPI names the NVIDIA driver file.
// NVIDIA's and AMD's signatures are accepted and recorded in QV_FAKE_TOOL_LOG as "signature
// <publisher>" (test packages carry none); a check naming no publisher (7-Zip's installer) is
// Windows' own.
// The publisher is the same server; update lists are signed with the key whose public half is
// QV_TEST_UPDATE_KEY (128 hexadecimal digits).
#include <windows.h>

#include <string>

#include "afterburner/afterburner.h"
#include "foundation/scheduled_task.h"
#include "foundation/text.h"
#include "driver/driver_clean.h"
#include "driver/vendor_hosts.h"
#include "update/self_update.h"
#include "helper_common.h"
#include "status_control.h"

namespace {

using helper::Environment;

bool RecordSignature(const HeldFile& file, const std::wstring& publisher, std::wstring& error) {
    helper::AppendToolLog("signature " + ToUtf8(publisher));
    return publisher == kNvidiaPublisher || publisher == kAmdPublisher || VerifyPublisherSignature(file, publisher, error);
}

}  // namespace

const DriverTools& ProductDriverTools() {
    static const VendorHosts hosts = [] {
        VendorHosts h;
        for (auto& allowed : h.allowed) allowed = {L"localhost"};
        h.nvidiaLookup = h.packageGallery = h.sevenZipWeb = h.amdSupport = h.afterburnerMirror = h.presentMonWeb =
            L"localhost:" + Environment(L"QV_TEST_VENDOR_PORT");
        h.sevenZipInstaller = L"/a/7z2600-x64.exe";
        h.sevenZipSha256 = Environment(L"QV_TEST_SEVENZIP_SHA256");
        h.presentMonRelease = L"/GameTechDev/PresentMon/releases/download/v2.3.1/PresentMon-2.3.1-x64.exe";
        h.presentMonSha256 = Environment(L"QV_TEST_PRESENTMON_SHA256");
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

const AfterburnerSetup& ProductAfterburnerSetup() {
    static const AfterburnerSetup setup = [] {
        AfterburnerSetup s;
        s.driverTools = &ProductDriverTools();
        s.programFilesX86 = Environment(L"QV_FAKE_PROGRAMS_X86");
        s.afterburnerKey = Environment(L"QV_FAKE_AFTERBURNER_KEY");
        s.rtssKey = Environment(L"QV_FAKE_RTSS_KEY");
        s.archivePath = L"/files/afterburner.zip";
        s.archiveSha256 = Environment(L"QV_TEST_AFTERBURNER_SHA256");
        s.schtasks = Environment(L"QV_TEST_TOOLS_DIR") + L"\\schtasks.exe";
        s.isAdministrator = AccountIsAdministrator;
        s.nvapi = Environment(L"QV_TEST_NVAPI");
        s.readStatus = ReadStatusControl;
        return s;
    }();
    return setup;
}

const UpdateSource& ProductUpdateSource() {
    static const UpdateSource source = [] {
        UpdateSource s;
        const std::wstring authority = L"localhost:" + Environment(L"QV_TEST_VENDOR_PORT");
        s.hosts = {L"localhost", L"localhost", authority, authority};
        const std::wstring hex = Environment(L"QV_TEST_UPDATE_KEY");
        for (size_t i = 0; i + 1 < hex.size(); i += 2) s.publicKey.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        return s;
    }();
    return source;
}
