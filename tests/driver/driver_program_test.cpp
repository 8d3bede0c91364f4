// --check-driver and --apply-driver as a user runs them: the program (built to use the local vendor
// server and the fake vendor tools) on an NVIDIA and an AMD machine planted in the prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "driver/vendor_fetch.h"
#include "foundation/files.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "support/driver_test_kit.h"
#include "support/vendor_test_server.h"

namespace {

constexpr size_t kPackageSize = 0x2000000 + 4096;

void PlantAdapter(const wchar_t* desc, const wchar_t* provider, const wchar_t* hardwareId) {
    const std::wstring key = ScopedDisplayAdapters::Key(0);
    WriteString(RegRoot::LocalMachine, key, L"DriverDesc", desc);
    WriteString(RegRoot::LocalMachine, key, L"ProviderName", provider);
    WriteString(RegRoot::LocalMachine, key, L"MatchingDeviceId", hardwareId);
    WriteString(RegRoot::LocalMachine, key, L"DriverVersion", L"31.0.15.3713");
}

class DriverProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << ToUtf8(server.Problem());
        RemoveTree(DriverFolder());
        adapters = std::make_unique<ScopedDisplayAdapters>();
        kit = std::make_unique<DriverTestKit>(false);
    }
    void TearDown() override {
        kit.reset();
        adapters.reset();
        RemoveTree(DriverFolder());
    }
    ProgramRun Run(const wchar_t* arguments) { return RunProgram(DriverTestKit::TestProgramPath(), arguments, 120000); }

    VendorTestServer& server = VendorTestServer::Get();
    std::unique_ptr<ScopedDisplayAdapters> adapters;
    std::unique_ptr<DriverTestKit> kit;
};

}  // namespace

TEST_F(DriverProgram, NvidiaCheckThenApplyWithYesInstallsTheTrimmedDriver) {
    PlantAdapter(L"NVIDIA GeForce RTX 4070", L"NVIDIA", L"pci\\ven_10de&dev_2786&subsys_51431458");
    ASSERT_TRUE(server.PlaceFile(L"nvidia-answer.json",
                                 ToUtf8(L"{\"DriverAttributes\":{},\"Version\":\"566.36\",\"Name\":\"GeForce Game Ready Driver\","
                                        L"\"DownloadURL\":\"" + server.Url(L"/files/566.36-desktop.exe") + L"\"}")));
    ASSERT_TRUE(server.PlaceFile(L"566.36-desktop.exe", FakeArchive({{"setup.exe", "", true}}, true, kPackageSize)));

    const ProgramRun check = Run(L"--check-driver");
    EXPECT_EQ(check.exitCode, 0u) << check.out << check.err;
    EXPECT_NE(check.out.find("Published: GeForce Game Ready Driver 566.36"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("Nothing was downloaded or installed."), std::string::npos) << check.out;
    EXPECT_FALSE(FileExists(DriverFolder() + L"\\566.36-desktop.exe"));

    // Without --yes and nobody to ask, nothing is installed.
    const ProgramRun declined = Run(L"--apply-driver");
    EXPECT_EQ(declined.exitCode, 1u);
    EXPECT_EQ(kit->ToolCalls().find("setup.exe"), std::string::npos);

    const PlantedEnvironment planted;
    const ProgramRun apply = Run(L"--apply-driver --yes");
    EXPECT_EQ(apply.exitCode, 0u) << apply.out << apply.err;
    // 7-Zip and the vendor's setup saw nothing of what the user planted in the program's environment.
    EXPECT_EQ(planted.Seen(), L"") << planted.Record();
    EXPECT_NE(planted.Record(), "") << "the children recorded what they were given";
    EXPECT_NE(apply.out.find("Download complete."), std::string::npos) << apply.out;
    EXPECT_NE(apply.out.find("The trimmed driver is installed."), std::string::npos) << apply.out;
    const std::string calls = kit->ToolCalls();
    EXPECT_NE(calls.find("signature NVIDIA Corporation"), std::string::npos) << calls;
    EXPECT_NE(calls.find("-s -n Display.Driver Display.PhysX"), std::string::npos) << calls;
    // A redirected run carries no progress rows.
    EXPECT_EQ(apply.out.find('\r' + std::string("  ")), std::string::npos);
}

TEST_F(DriverProgram, AmdApplyWithYesInstallsTheDisplayInfAndAMissingAdapterIsAnError) {
    const std::string inf = "ServiceBinary=%13%\\amdkmdag.sys\r\n";
    const std::string package = FakeArchive({{"Packages/Drivers/Display/WT6A_INF/u0412345.inf", inf}}, true, kPackageSize);
    ASSERT_TRUE(server.PlaceFile(L"amd-package.exe", package));
    const std::string script = "url64 = '" + ToUtf8(server.Url(L"/files/amd-package.exe")) + "'\r\nchecksum64 = '" +
                               Sha256Hex(package) + "'\r\n";
    ASSERT_TRUE(server.PlaceFile(L"amd-index.nupkg", FakeArchive({{"tools/chocolateyinstall.ps1", script}}, false, 0)));

    const ProgramRun none = Run(L"--check-driver");
    EXPECT_EQ(none.exitCode, 1u);
    EXPECT_NE(none.out.find("No NVIDIA or AMD display adapter was found."), std::string::npos) << none.out;

    PlantAdapter(L"AMD Radeon RX 7800 XT", L"Advanced Micro Devices, Inc.", L"pci\\ven_1002&dev_747e");
    const ProgramRun apply = Run(L"--apply-driver --yes");
    EXPECT_EQ(apply.exitCode, 0u) << apply.out << apply.err;
    EXPECT_NE(apply.out.find("AMD display driver installed. Restart to finish it. Adrenalin was not installed."),
              std::string::npos)
        << apply.out;
    EXPECT_NE(kit->ToolCalls().find("u0412345.inf\" /install"), std::string::npos) << kit->ToolCalls();
}

TEST_F(DriverProgram, ApplyAfterburnerInstallsScansAndRegistersTheLogonTask) {
    kit->PlaceAfterburnerArchive();
    const ProgramRun run = Run(L"--apply-afterburner --no-pause");
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_NE(run.out.find("Pressed Scan."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Profile 1 applies the scanned curve at every logon (core +105 MHz, memory +0 MHz)."), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Afterburner and RivaTuner will apply profile 1 at every logon."), std::string::npos) << run.out;
    EXPECT_NE(kit->ToolCalls().find("-profile1 /s"), std::string::npos) << kit->ToolCalls();
}
