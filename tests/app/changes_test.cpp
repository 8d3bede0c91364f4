// --what-if and --changes on the prefix's real registry: a preview that writes nothing, and a
// ledger that shows each setting's own original beside what it holds now.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "support/machine_state.h"
#include "support/registry_export.h"
#include "support/test_support.h"
#include "health/monitor.h"

namespace {

std::wstring ProgramPath() { return BinDirectory() + L"\\Quorvantis.exe"; }

constexpr const wchar_t* kGraphics = L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers";
constexpr const wchar_t* kGames = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Games";
constexpr const wchar_t* kCapture = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\GameDVR";

// A document with its indentation taken out, so a change reads the same at any depth.
std::string Compact(const std::string& json) {
    std::string compact;
    for (size_t i = 0; i < json.size(); ++i) {
        compact += json[i];
        if (json[i] == '\n') {
            while (i + 1 < json.size() && json[i + 1] == ' ') ++i;
        }
    }
    return compact;
}

// One change of a --json document, as the program writes it (keys in order, one per line).
std::string JsonRow(const char* id, const char* setting, const char* original, const char* current, const char* ours,
                    const char* state, const char* oursKey = "written") {
    std::string escaped;
    for (const char* c = setting; *c != '\0'; ++c) escaped += *c == '\\' ? std::string("\\\\") : std::string(1, *c);
    const auto quoted = [](const char* text) { return text == nullptr ? std::string("null") : "\"" + std::string(text) + "\""; };
    return "\"id\": \"" + std::string(id) + "\",\n\"setting\": \"" + escaped + "\",\n\"keeping\": \"recorded\",\n\"recorded\": " +
           (original != nullptr ? "true" : "false") + ",\n\"original\": " + quoted(original) + ",\n\"current\": " + quoted(current) +
           ",\n\"" + oursKey + "\": " + quoted(ours) + ",\n\"state\": \"" + state + "\",\n\"reason\": null";
}

class Changes : public testing::Test {
protected:
    ScopedMachineState machine;

    void SetUp() override { ClearProgramLog(); }
    void TearDown() override {
        RunProgram(ProgramPath(), L"--uninstall --no-pause", 120000);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kGraphics, L"HwSchMode");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kGames, L"GPU Priority");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kCapture, L"AppCaptureEnabled");
    }
    static ProgramRun Run(const std::wstring& arguments) { return RunProgram(ProgramPath(), arguments, 120000); }

    // Everything the steps may write: the machine's control set and software, the user's software.
    static std::vector<RegistryExport> Registry() {
        return {ExportRegistry(RegRoot::LocalMachine, L"SYSTEM\\CurrentControlSet"),
                ExportRegistry(RegRoot::LocalMachine, L"SOFTWARE"), ExportRegistry(RegRoot::CurrentUser, L"Software")};
    }
};

}  // namespace

// The user's own values, unlike ours: a preview writes nothing anywhere and names each one; after
// the step runs, the ledger gives each its original, whoever changed it since, and the uninstall
// plan; one change put back alone leaves the rest for the uninstall; after it nothing is on record.
TEST_F(Changes, WhatIfWritesNothingTheLedgerKeepsEachOriginalAndRevertPutsBackOneChange) {
    WriteDword(RegRoot::LocalMachine, kGraphics, L"HwSchMode", 1);
    WriteDword(RegRoot::LocalMachine, kGames, L"GPU Priority", 2);
    WriteDword(RegRoot::CurrentUser, kCapture, L"AppCaptureEnabled", 1);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kGames, L"Priority");

    const std::vector<RegistryExport> before = Registry();
    ProgramRun preview = Run(L"--what-if --apply-gpu --json");
    const ProgramRun flow = Run(L"--what-if --json --no-afterburner --ppm");
    const std::vector<RegistryExport> after = Registry();
    for (size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(before[i] == after[i]) << ToUtf8(DescribeDifference(before[i], after[i]));
    EXPECT_FALSE(RegistryKeyExists(RegRoot::LocalMachine, kStateKey));
    ASSERT_EQ(preview.exitCode, 0u) << preview.out;
    preview.out = Compact(preview.out);
    EXPECT_NE(preview.out.find(JsonRow("gpu.HAGS", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers\\HwSchMode",
                                       nullptr, "REG_DWORD 1", "REG_DWORD 2", "would-change", "would_write")),
              std::string::npos)
        << preview.out;
    EXPECT_NE(preview.out.find(JsonRow("gpu.GAMEDVR2.user", "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\GameDVR\\AppCaptureEnabled",
                                       nullptr, "REG_DWORD 1", "REG_DWORD 0", "would-change", "would_write")),
              std::string::npos)
        << preview.out;
    ASSERT_EQ(flow.exitCode, 0u);
    for (const char* step : {"\"step\": \"Timer service\"", "\"step\": \"GPU Config\"", "\"step\": \"Memory\"", "\"step\": \"Storage\""}) {
        EXPECT_NE(flow.out.find(step), std::string::npos) << step << "\n" << flow.out;
    }
    // Wine's own power library has no active plan: CPU Tune could not run, and the preview says so.
    EXPECT_NE(flow.out.find("\"CPU Tune: PowerGetActiveScheme failed; cannot apply PPM tweaks.\""), std::string::npos) << flow.out;

    ASSERT_EQ(Run(L"--apply-gpu --gpu --yes --no-pause").exitCode, 0u) << ReadProgramLog();
    // Someone else changes one value back to the user's and another to a third value.
    WriteDword(RegRoot::LocalMachine, kGraphics, L"HwSchMode", 1);
    WriteDword(RegRoot::LocalMachine, kGames, L"GPU Priority", 5);
    ProgramRun ledger = Run(L"--changes --json");
    ASSERT_EQ(ledger.exitCode, 0u);
    ledger.out = Compact(ledger.out);
    const struct {
        const char* id;
        const char* setting;
        const char* original;
        const char* current;
        const char* ours;
        const char* state;
    } expected[] = {
        {"gpu.HAGS", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers\\HwSchMode", "REG_DWORD 1", "REG_DWORD 1",
         "REG_DWORD 2", "already-restored"},
        {"gpu.MMGPU", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Games\\GPU Priority",
         "REG_DWORD 2", "REG_DWORD 5", "REG_DWORD 8", "changed-since"},
        {"gpu.MMPRIO", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Games\\Priority",
         "absent", "REG_DWORD 6", "REG_DWORD 6", "still-ours"},
    };
    for (const auto& row : expected) {
        EXPECT_NE(ledger.out.find(JsonRow(row.id, row.setting, row.original, row.current, row.ours, row.state)), std::string::npos)
            << row.setting << "\n" << ledger.out;
    }
    // The per-user value is recorded under the account it came from.
    EXPECT_NE(ledger.out.find("\\\\AppCaptureEnabled\",\n\"keeping\": \"recorded\",\n\"recorded\": true,\n\"original\": \"REG_DWORD 1\""),
              std::string::npos)
        << ledger.out;
    EXPECT_NE(ledger.out.find("(1 changed since by someone else also get their recorded value back)"), std::string::npos);
    // A second preview keeps the first original: the record exists already.
    Run(L"--what-if --apply-gpu");
    EXPECT_NE(ReadProgramLog().find("on record already (original REG_DWORD 2 kept)"), std::string::npos) << ReadProgramLog();

    // Putting back the one value someone else changed since: said, and asked; nobody at a
    // console to answer, it stays. A preview of it changes nothing; with --yes it goes back.
    uint32_t value = 0;
    ClearProgramLog();
    ASSERT_EQ(Run(L"--revert gpu.MMGPU").exitCode, 0u) << ReadProgramLog();
    EXPECT_NE(ReadProgramLog().find("gpu.MMGPU was changed since by someone else: it is REG_DWORD 5 now; Quorvantis wrote "
                                    "REG_DWORD 8 and found REG_DWORD 2."),
              std::string::npos)
        << ReadProgramLog();
    EXPECT_NE(ReadProgramLog().find("gpu.MMGPU is left as it is."), std::string::npos);
    ASSERT_TRUE(ReadDword(kGames, L"GPU Priority", value));
    EXPECT_EQ(value, 5u);
    const ProgramRun previewRevert = Run(L"--revert gpu.MMGPU --what-if --json");
    ASSERT_EQ(previewRevert.exitCode, 0u) << previewRevert.out;
    EXPECT_NE(Compact(previewRevert.out).find("\"revert\": [\n\"put back 1 setting(s) to the values on record (1 changed since by "
                                              "someone else also get their recorded value back)\",\n\"remove the records of what "
                                              "it puts back or drops, and nothing else\"\n]"),
              std::string::npos)
        << previewRevert.out;
    ASSERT_TRUE(ReadDword(kGames, L"GPU Priority", value));
    EXPECT_EQ(value, 5u) << "a preview changes nothing";
    ClearProgramLog();
    const ProgramRun reverted = Run(L"--revert gpu.MMGPU --yes --json");
    ASSERT_EQ(reverted.exitCode, 0u) << reverted.out;
    EXPECT_NE(Compact(reverted.out).find("\"put_back\": [\n\"gpu.MMGPU\"\n]"), std::string::npos) << reverted.out;
    EXPECT_NE(ReadProgramLog().find("Putting gpu.MMGPU back to REG_DWORD 2 anyway (--yes)."), std::string::npos) << ReadProgramLog();
    ASSERT_TRUE(ReadDword(kGames, L"GPU Priority", value));
    EXPECT_EQ(value, 2u) << "only that value went back";
    ASSERT_TRUE(ReadDword(kGames, L"Priority", value));
    EXPECT_EQ(value, 6u) << "the step's other values are still ours";
    ledger = Run(L"--changes --json");
    EXPECT_EQ(ledger.out.find("\"gpu.MMGPU\""), std::string::npos) << ledger.out;
    EXPECT_NE(ledger.out.find("\"gpu.MMPRIO\""), std::string::npos) << ledger.out;
    EXPECT_NE(Run(L"--revert gpu.NOSUCH").exitCode, 0u);
    EXPECT_NE(ReadProgramLog().find("No change on record matches \"gpu.NOSUCH\"; --changes lists each change's id."),
              std::string::npos);

    // The uninstall still puts back the rest.
    ASSERT_EQ(Run(L"--uninstall --no-pause").exitCode, 0u) << ReadProgramLog();
    EXPECT_FALSE(ReadDword(kGames, L"Priority", value)) << "absent before the first change";
    ASSERT_TRUE(ReadDword(kGames, L"GPU Priority", value));
    ClearProgramLog();
    EXPECT_EQ(Run(L"--changes").exitCode, 0u);
    EXPECT_NE(ReadProgramLog().find("Quorvantis holds no record of a changed setting."), std::string::npos) << ReadProgramLog();
}

// A step put back whole counts as not applied: its records and markers go, so drift repair and
// the startup guard leave it alone.
TEST_F(Changes, RevertingAWholeStepUndoesItAndItCountsAsNotApplied) {
    WriteDword(RegRoot::LocalMachine, kGraphics, L"HwSchMode", 1);
    ASSERT_EQ(Run(L"--apply-gpu --gpu --yes --no-pause").exitCode, 0u) << ReadProgramLog();
    WriteDword(RegRoot::LocalMachine, kStateKey, L"GuardGpu", 1);
    ASSERT_TRUE(IsAreaApplied(L"gpu"));
    ClearProgramLog();
    ASSERT_EQ(Run(L"--revert gpu --yes").exitCode, 0u) << ReadProgramLog();
    EXPECT_NE(ReadProgramLog().find("GPU Config is undone and counts as not applied."), std::string::npos) << ReadProgramLog();
    uint32_t value = 0;
    ASSERT_TRUE(ReadDword(kGraphics, L"HwSchMode", value));
    EXPECT_EQ(value, 1u);
    EXPECT_FALSE(ReadStateDword(L"GpuApplied", value));
    EXPECT_FALSE(ReadStateDword(L"GuardGpu", value));
    EXPECT_FALSE(IsAreaApplied(L"gpu"));
    const ProgramRun ledger = Run(L"--changes --json");
    EXPECT_EQ(ledger.out.find("\"GPU Config\""), std::string::npos) << ledger.out;
}
