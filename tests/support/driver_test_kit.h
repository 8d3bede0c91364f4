#pragma once
// What the GPU Clean tests set up around the program: archives in the fake tools' format, a
// folder of fake vendor and system tools, and the driver tools pointing at them and at the local
// vendor server.
#include <string>
#include <utility>
#include <vector>

#include "afterburner/afterburner.h"
#include "driver/driver_clean.h"
#include "driver/vendor_hosts.h"
#include "support/test_support.h"

// Entries: (path, bytes) for a file; (path, "") with copyTool for a copy of the fake tool program.
struct ArchiveEntry {
    std::string path;
    std::string bytes;
    bool copyTool = false;
};
// "MZ" first when it is to pass as an installer; padded with zeros to at least padTo bytes.
std::string FakeArchive(const std::vector<ArchiveEntry>& entries, bool executable, size_t padTo);
std::string Sha256Hex(const std::string& bytes);

class DriverTestKit {
public:
    // With ownFolders the program's data folder moves to a temporary one for this process;
    // without, programs the test starts and the test itself use the prefix's real folders.
    explicit DriverTestKit(bool ownFolders = true);
    ~DriverTestKit();
    const DriverTools& Tools() const { return tools_; }
    DriverTools& Tools() { return tools_; }
    // Everything the fake tools were asked to do, one command line per line.
    std::string ToolCalls() const { return ReadFileBytes(toolLog_); }
    // The publishers whose signatures were checked, in order; refuse makes the check fail.
    const std::vector<std::wstring>& SignatureChecks() const { return signatureChecks_; }
    bool refuseSignatures = false;
    // The account at the desk is a standard one (else Windows' own answer for it is used).
    bool standardUser = false;
    std::wstring SevenZipPath() const { return folder_.Path() + L"\\programs\\7-Zip\\7z.exe"; }
    // The Afterburner step pointed at the server (archive /files/afterburner.zip), the fake tools,
    // a 32-bit program folder of its own and an NVIDIA driver file that exists.
    AfterburnerSetup& Afterburner() { return afterburner_; }
    std::wstring ProgramsX86() const { return folder_.Path() + L"\\programs-x86"; }
    // Places the Afterburner archive (the fake installer inside) on the server; returns its digest.
    std::string PlaceAfterburnerArchive() const;
    std::wstring FakeToolPath() const;
    // Places source as the 7-Zip installer on the server and pins the program to the digest of
    // pinnedTo (source itself when empty).
    void PlaceSevenZipInstaller(const std::wstring& source, const std::wstring& pinnedTo = L"");
    // PresentMon's release as the code host hands it out (through a redirect to its asset
    // storage), pinned to the digest of `pinnedTo` (the same file when empty).
    void PlacePresentMon(const std::wstring& source, const std::wstring& pinnedTo = L"");
    // The program built to use the local vendor server and these tools (see the test build).
    static std::wstring TestProgramPath();

private:
    TempFolder folder_;
    std::wstring toolLog_;
    VendorHosts hosts_;
    std::wstring registryBase_;
    DriverTools tools_;
    AfterburnerSetup afterburner_;
    std::vector<std::wstring> signatureChecks_;
    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
    std::unique_ptr<ScopedProgramFolders> programFolders_;
};
