#include "support/driver_test_kit.h"

#include <windows.h>

#include "driver/vendor_fetch.h"
#include "foundation/scheduled_task.h"
#include "foundation/sha256.h"
#include "foundation/text.h"
#include "helpers/status_control.h"
#include "support/vendor_test_server.h"

std::string FakeArchive(const std::vector<ArchiveEntry>& entries, bool executable, size_t padTo) {
    std::string out = executable ? "MZ\nQVPKG\n" : "QVPKG\n";
    for (const ArchiveEntry& e : entries) {
        if (e.copyTool) out += "X " + e.path + "\n";
        else out += "F " + std::to_string(e.bytes.size()) + " " + e.path + "\n" + e.bytes;
    }
    out += "END\n";
    if (out.size() < padTo) out.resize(padTo, '\0');
    return out;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256Hasher hasher;
    hasher.Add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return ToUtf8(hasher.Finish());
}

std::wstring DriverTestKit::FakeToolPath() const { return BinDirectory() + L"\\fake_vendor_tool.exe"; }

std::wstring DriverTestKit::TestProgramPath() { return BinDirectory() + L"\\quorvantis_vendor_test.exe"; }

DriverTestKit::DriverTestKit(bool ownFolders) {
    const std::wstring tools = folder_.Path() + L"\\tools";
    CreateDirectoryW(tools.c_str(), nullptr);
    CreateDirectoryW((folder_.Path() + L"\\data").c_str(), nullptr);
    if (ownFolders) programFolders_ = std::make_unique<ScopedProgramFolders>(folder_.Path() + L"\\data");
    for (const wchar_t* name : {L"tar.exe", L"pnputil.exe", L"schtasks.exe"}) {
        CopyFileW(FakeToolPath().c_str(), (tools + L"\\" + name).c_str(), FALSE);
    }
    toolLog_ = folder_.Path() + L"\\tool-calls.txt";
    environment_.push_back(std::make_unique<ScopedEnvironment>(L"QV_FAKE_TOOL_LOG", toolLog_.c_str()));
    CreateDirectoryW((folder_.Path() + L"\\tasks").c_str(), nullptr);
    environment_.push_back(std::make_unique<ScopedEnvironment>(L"QV_FAKE_TASKS_DIR", (folder_.Path() + L"\\tasks").c_str()));
    environment_.push_back(
        std::make_unique<ScopedEnvironment>(L"QV_FAKE_INSTALL_DIR", (folder_.Path() + L"\\programs").c_str()));
    const VendorTestServer& server = VendorTestServer::Get();
    environment_.push_back(std::make_unique<ScopedEnvironment>(L"QV_TEST_TOOLS_DIR", tools.c_str()));
    environment_.push_back(std::make_unique<ScopedEnvironment>(
        L"QV_TEST_VENDOR_PORT", FormatText(L"%u", static_cast<unsigned>(server.Port())).c_str()));
    hosts_ = server.Hosts();
    tools_.hosts = &hosts_;
    PlaceSevenZipInstaller(FakeToolPath());
    tools_.tar = tools + L"\\tar.exe";
    tools_.pnputil = tools + L"\\pnputil.exe";
    tools_.sevenZipPaths = {SevenZipPath()};
    CreateDirectoryW(ProgramsX86().c_str(), nullptr);
    environment_.push_back(std::make_unique<ScopedEnvironment>(L"QV_FAKE_PROGRAMS_X86", ProgramsX86().c_str()));
    const std::wstring nvapi = folder_.Path() + L"\\nvapi64.dll";
    WriteFileBytes(nvapi, "stand-in");
    environment_.push_back(std::make_unique<ScopedEnvironment>(L"QV_TEST_NVAPI", nvapi.c_str()));
    afterburner_.driverTools = &tools_;
    afterburner_.programFilesX86 = ProgramsX86();
    // The installers' records in a key of this kit's own, so tests running side by side never
    // find each other's installs.
    static int kits = 0;
    registryBase_ = FormatText(L"Software\\QuorvantisTests\\Installs-%lu-%d", GetCurrentProcessId(), kits++);
    afterburner_.afterburnerKey = registryBase_ + L"\\MSI\\Afterburner";
    afterburner_.rtssKey = registryBase_ + L"\\Unwinder\\RTSS";
    SetFakeSwitch(L"QV_FAKE_AFTERBURNER_KEY", afterburner_.afterburnerKey.c_str());
    SetFakeSwitch(L"QV_FAKE_RTSS_KEY", afterburner_.rtssKey.c_str());
    afterburner_.archivePath = L"/files/afterburner.zip";
    afterburner_.schtasks = tools + L"\\schtasks.exe";
    afterburner_.isAdministrator = [this](const std::wstring& account) { return !standardUser && AccountIsAdministrator(account); };
    afterburner_.nvapi = nvapi;
    afterburner_.readStatus = ReadStatusControl;
    // No test file can be signed by NVIDIA or AMD: those checks alone are played. Every other check
    // (7-Zip's installer, signed or not) is Windows' real one.
    tools_.verifySignature = [this](const HeldFile& file, const std::wstring& publisher, std::wstring& error) {
        signatureChecks_.push_back(publisher);
        if (publisher != kNvidiaPublisher && publisher != kAmdPublisher) return VerifyPublisherSignature(file, publisher, error);
        if (refuseSignatures) error = L"It carries no signature.";
        return !refuseSignatures;
    };
}

DriverTestKit::~DriverTestKit() {
    HKEY tests = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\QuorvantisTests", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &tests) == ERROR_SUCCESS) {
        RegDeleteTreeW(tests, registryBase_.substr(registryBase_.find_last_of(L'\\') + 1).c_str());
        RegCloseKey(tests);
    }
    SetFakeSwitch(L"QV_FAKE_AFTERBURNER_KEY", nullptr);
    SetFakeSwitch(L"QV_FAKE_RTSS_KEY", nullptr);
}

void DriverTestKit::PlaceSevenZipInstaller(const std::wstring& source, const std::wstring& pinnedTo) {
    VendorTestServer::Get().PlaceFileFrom(L"7z-installer.exe", source);
    hosts_.sevenZipSha256 = FromUtf8(Sha256Hex(ReadFileBytes(pinnedTo.empty() ? source : pinnedTo)));
    SetFakeSwitch(L"QV_TEST_SEVENZIP_SHA256", hosts_.sevenZipSha256.c_str());
}

void DriverTestKit::PlacePresentMon(const std::wstring& source, const std::wstring& pinnedTo) {
    VendorTestServer::Get().PlaceFileFrom(L"presentmon-release.exe", source);
    hosts_.presentMonSha256 = FromUtf8(Sha256Hex(ReadFileBytes(pinnedTo.empty() ? source : pinnedTo)));
    SetFakeSwitch(L"QV_TEST_PRESENTMON_SHA256", hosts_.presentMonSha256.c_str());
}

std::string DriverTestKit::PlaceAfterburnerArchive() const {
    const std::string archive =
        FakeArchive({{"MSIAfterburnerSetup466.exe", ReadFileBytes(BinDirectory() + L"\\fake_afterburner.exe")}}, false, 0);
    VendorTestServer::Get().PlaceFile(L"afterburner.zip", archive);
    const std::string digest = Sha256Hex(archive);
    SetFakeSwitch(L"QV_TEST_AFTERBURNER_SHA256", FromUtf8(digest).c_str());
    return digest;
}
