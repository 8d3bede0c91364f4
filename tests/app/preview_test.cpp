// The preview is the run: on a seeded machine (the user's own Balanced plan active, Windows'
// Ultimate template there, SysMain automatic, user values in the graphics keys and the NVIDIA
// profile, a hidden power setting, no paging file, TRIM off), every change a step makes to the
// registry, the services, the power plans and the NVIDIA profile is in the plan --what-if printed
// just before, with its value, and every change that plan announced is made.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "support/fakes.h"
#include "support/machine_state.h"
#include "support/registry_export.h"
#include "support/test_support.h"
#include "tweaks/power_rows.h"
#include "tweaks/tweak_walk.h"

namespace {

constexpr const wchar_t* kPowerUser = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User";
constexpr const wchar_t* kSchemes = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr const wchar_t* kGraphics = L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers";
constexpr const wchar_t* kGames = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Games";
constexpr const wchar_t* kCapture = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\GameDVR";
constexpr const wchar_t* kFileSystem = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
constexpr const wchar_t* kMemory = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
constexpr const wchar_t* kFakeNvapi = L"Software\\QuorvantisTests\\FakeNvapi";

// One change of a --what-if document.
struct Planned {
    std::wstring id, step, setting, keeping, current, ours, state;
};

// The program's own layout: one key per line, each change's fields in order.
std::wstring JsonString(const std::string& line) {
    const size_t open = line.find(": \"");
    if (open == std::string::npos) return {};
    std::string text;
    for (size_t i = open + 3; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        text += line[i];
    }
    return FromUtf8(text);
}

std::vector<Planned> PlanOf(const std::string& document) {
    std::vector<Planned> plan;
    std::wstring step;
    size_t start = 0;
    while (start < document.size()) {
        size_t end = document.find('\n', start);
        if (end == std::string::npos) end = document.size();
        std::string line = document.substr(start, end - start);
        start = end + 1;
        line.erase(0, line.find_first_not_of(' '));
        const auto is = [&](const char* key) { return line.rfind(std::string("\"") + key + "\": ", 0) == 0; };
        if (is("step")) step = JsonString(line);
        else if (is("id")) plan.push_back(Planned{JsonString(line), step, {}, {}, {}, {}, {}});
        else if (plan.empty()) continue;
        else if (is("setting")) plan.back().setting = JsonString(line);
        else if (is("keeping")) plan.back().keeping = JsonString(line);
        else if (is("current")) plan.back().current = JsonString(line);
        else if (is("would_write")) plan.back().ours = JsonString(line);
        else if (is("state")) plan.back().state = JsonString(line);
    }
    return plan;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return LowerCase(a) == LowerCase(b); }
bool StartsWithText(const std::wstring& text, const std::wstring& prefix) { return LowerCase(text).rfind(LowerCase(prefix), 0) == 0; }

std::vector<std::wstring> Split(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t end = path.find(L'\\'); end != std::wstring::npos; start = end + 1, end = path.find(L'\\', start)) {
        parts.push_back(path.substr(start, end - start));
    }
    parts.push_back(path.substr(start));
    return parts;
}

// One difference between two snapshots: a value (name not empty) or a key (name empty).
struct Difference {
    RegRoot root;
    std::wstring key;   // from the hive's root
    std::wstring name;
    bool afterPresent = false;
    RegistryValue after;
    std::wstring Text() const {
        return (root == RegRoot::CurrentUser ? L"HKCU\\" : L"HKLM\\") + key + (name.empty() ? L"" : L":" + name) +
               (afterPresent ? L" = " + RegistryValueText(after) : L" (gone)");
    }
};

struct Snapshot {
    struct Part {
        RegRoot root;
        std::wstring base;
        RegistryExport exported;
    };
    std::vector<Part> parts;
    static Snapshot Take() {
        Snapshot s;
        for (const auto& [root, base] : {std::pair{RegRoot::LocalMachine, L"SYSTEM\\CurrentControlSet"},
                                         std::pair{RegRoot::LocalMachine, L"SOFTWARE"}, std::pair{RegRoot::CurrentUser, L"Software"}}) {
            s.parts.push_back({root, base, ExportRegistry(root, base)});
        }
        return s;
    }
};

std::vector<Difference> Differences(const Snapshot& before, const Snapshot& after) {
    std::vector<Difference> found;
    for (size_t p = 0; p < before.parts.size(); ++p) {
        const Snapshot::Part& b = before.parts[p];
        const Snapshot::Part& a = after.parts[p];
        const auto full = [&](const std::wstring& relative) { return relative.empty() ? b.base : b.base + L"\\" + relative; };
        for (const std::wstring& key : a.exported.keys) {
            if (std::find(b.exported.keys.begin(), b.exported.keys.end(), key) == b.exported.keys.end()) {
                found.push_back({b.root, full(key), L"", true, {}});
            }
        }
        for (const std::wstring& key : b.exported.keys) {
            if (std::find(a.exported.keys.begin(), a.exported.keys.end(), key) == a.exported.keys.end()) {
                found.push_back({b.root, full(key), L"", false, {}});
            }
        }
        const auto split = [](const std::wstring& entry) {
            const size_t colon = entry.rfind(L':');
            return std::pair{entry.substr(0, colon), entry.substr(colon + 1)};
        };
        for (const auto& [entry, value] : a.exported.values) {
            const auto it = b.exported.values.find(entry);
            if (it != b.exported.values.end() && it->second == value) continue;
            const auto [key, name] = split(entry);
            found.push_back({b.root, full(key), name, true, value});
        }
        for (const auto& [entry, value] : b.exported.values) {
            if (a.exported.values.count(entry) != 0) continue;
            const auto [key, name] = split(entry);
            found.push_back({b.root, full(key), name, false, {}});
        }
    }
    return found;
}

std::wstring StartTypeWord(const RegistryValue& value) {
    uint32_t start = 0;
    if (value.bytes.size() == 4) memcpy(&start, value.bytes.data(), 4);
    const wchar_t* words[] = {L"boot", L"system", L"automatic", L"manual", L"disabled"};
    return start < 5 ? words[start] : FormatText(L"start type %lu", static_cast<unsigned long>(start));
}

uint32_t Number(const RegistryValue& value) {
    uint32_t number = 0;
    if (value.bytes.size() == 4) memcpy(&number, value.bytes.data(), 4);
    return number;
}

const PowerSettingRow* PowerRowOf(const std::wstring& setting) {
    for (const auto rows : {CpuTuneRows(), StoragePowerRows()}) {
        for (const PowerSettingRow& row : rows) {
            if (SameText(GuidText(row.setting), setting)) return &row;
        }
    }
    return nullptr;
}

// The planned change that says this difference would happen, or null.
const Planned* Explain(const Difference& d, const std::vector<Planned>& plan) {
    const auto find = [&](const auto& matches) -> const Planned* {
        for (const Planned& p : plan) {
            if (p.state != L"left-alone" && matches(p)) return &p;
        }
        return nullptr;
    };
    const auto withId = [&](const wchar_t* id) { return find([&](const Planned& p) { return p.id == id; }); };
    const std::vector<std::wstring> parts = Split(d.key);
    if (d.root == RegRoot::LocalMachine && StartsWithText(d.key, kSchemes)) {
        const size_t depth = Split(kSchemes).size();
        if (d.name == L"ActivePowerScheme") {
            return find([&](const Planned& p) {
                return p.id == L"power.plan" && d.afterPresent &&
                       SameText(p.ours, L"{" + std::wstring(reinterpret_cast<const wchar_t*>(d.after.bytes.data())) + L"}");
            });
        }
        const std::wstring scheme = parts.size() > depth ? parts[depth] : L"";
        if (parts.size() == depth + 3 && (d.name == L"ACSettingIndex" || d.name == L"DCSettingIndex")) {
            const PowerSettingRow* row = PowerRowOf(parts[depth + 2]);
            if (row != nullptr && d.afterPresent) {
                const std::wstring place = FormatText(L"power setting %ls (%ls), %ls, plan {%ls}", row->title, row->alias,
                                                      d.name == L"ACSettingIndex" ? L"plugged in" : L"on battery", scheme.c_str());
                if (const Planned* p = find([&](const Planned& q) {
                        return SameText(q.setting, place) && q.ours == PowerValueText(Number(d.after), row->unit);
                    })) {
                    return p;
                }
            }
        }
        // Everything else in a plan that did not exist before is the copy of Windows' template.
        if (const Planned* made = withId(L"power.plan.created"); made != nullptr && StartsWithText(made->setting.substr(11), L"{" + scheme)) {
            return made;
        }
        return nullptr;
    }
    if (d.root == RegRoot::LocalMachine && StartsWithText(d.key, L"SYSTEM\\CurrentControlSet\\Services\\")) {
        const std::wstring service = parts[3];
        if (SameText(service, L"Quorvantis")) return withId(L"timer.service");
        if (parts.size() == 4 && d.name == L"Start" && d.afterPresent) {
            return find([&](const Planned& p) {
                return SameText(p.setting, L"service " + service + L", start type") && p.ours == StartTypeWord(d.after);
            });
        }
        return nullptr;
    }
    if (d.root == RegRoot::CurrentUser && StartsWithText(d.key, std::wstring(kFakeNvapi) + L"\\Profile") && d.afterPresent) {
        return find([&](const Planned& p) {
            return StartsWithText(p.setting, L"NVIDIA profile setting 0x" + d.name) && p.ours == FormatText(L"%lu", Number(d.after));
        });
    }
    if (d.root == RegRoot::CurrentUser && SameText(d.key, L"Software\\QuorvantisTests\\FakeMMAgent")) {
        return find([&](const Planned& p) { return p.id == L"memory.compression" && p.ours == (Number(d.after) != 0 ? L"on" : L"off"); });
    }
    if (d.root == RegRoot::CurrentUser && SameText(d.key, L"Software\\QuorvantisTests\\FakeSrClient")) return withId(L"prepare.restore-point");
    if (d.root == RegRoot::CurrentUser && StartsWithText(d.key, L"Software\\QuorvantisTests\\FakeSystemRestore")) {
        return withId(L"prepare.protection");
    }
    const std::wstring hive = d.root == RegRoot::CurrentUser ? L"HKCU\\" : L"HKLM\\";
    // A key made to hold a planned value.
    if (d.name.empty()) {
        return d.afterPresent ? find([&](const Planned& p) { return StartsWithText(p.setting, hive + d.key + L"\\"); }) : nullptr;
    }
    const std::wstring place = hive + d.key + L"\\" + d.name;
    const std::wstring value = RegistryValueText(d.afterPresent, d.after);
    return find([&](const Planned& p) {
        return (SameText(p.setting, place) || StartsWithText(p.setting, place + L" (")) && p.ours == value;
    });
}

// Values the seeding changes, put back as the prefix had them.
class ScopedValues {
public:
    void Set(RegRoot root, const std::wstring& key, const std::wstring& name, const RegistryValue& value) {
        Save(root, key, name);
        WriteRawValue(root, key, name, value);
    }
    void Remove(RegRoot root, const std::wstring& key, const std::wstring& name) {
        Save(root, key, name);
        DeleteRegistryValue(root, key, name);
    }
    ~ScopedValues() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->present) WriteRawValue(it->root, it->key, it->name, it->value);
            else DeleteRegistryValue(it->root, it->key, it->name);
        }
    }

private:
    void Save(RegRoot root, const std::wstring& key, const std::wstring& name) {
        Saved saved{root, key, name, false, {}};
        saved.present = ReadRawValue(root, key, name, saved.value);
        saved_.push_back(saved);
    }
    struct Saved {
        RegRoot root;
        std::wstring key, name;
        bool present;
        RegistryValue value;
    };
    std::vector<Saved> saved_;
};

struct Case {
    const char* name;
    const wchar_t* preview;  // with --what-if --json
    const wchar_t* run;      // with --yes --no-pause
    std::vector<const wchar_t*> steps;  // the steps the plan must hold
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Preview : public testing::TestWithParam<Case> {
protected:
    ScopedMachineState machine{L"QV_FAKE_TOOL_OUTPUT"};
    TempFolder folder;
    std::unique_ptr<FakeTool> powercfg, fsutil, powershell;
    std::unique_ptr<FakeLibrary> powrprof, nvapi, srclient;
    std::unique_ptr<ScopedDisplayAdapters> adapters;
    std::unique_ptr<PlantedEnvironment> planted;
    ScopedValues values;

    void SetUp() override {
        ClearProgramLog();
        powercfg = std::make_unique<FakeTool>(SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log"));
        fsutil = std::make_unique<FakeTool>(SystemToolPath(L"fsutil.exe"), folder.File(L"tools.log"));
        powershell = std::make_unique<FakeTool>(PowerShellPath(), folder.File(L"tools.log"));
        powrprof = std::make_unique<FakeLibrary>(L"fake_powrprof.dll", L"powrprof.dll");
        nvapi = std::make_unique<FakeLibrary>(L"fake_nvapi64.dll", L"nvapi64.dll");
        srclient = std::make_unique<FakeLibrary>(L"fake_srclient.dll", L"srclient.dll");
        adapters = std::make_unique<ScopedDisplayAdapters>();
        for (const wchar_t* key : {L"Software\\QuorvantisTests\\FakeSrClient", L"Software\\QuorvantisTests\\FakeSystemRestore", kFakeNvapi}) {
            RegDeleteTreeW(HKEY_CURRENT_USER, key);
        }
        CreateTestService(L"SysMain", L"C:\\nowhere\\sysmain-missing.exe", SERVICE_AUTO_START);
        SeedPowerPlans();
        // The user's own values in the graphics keys, an NVIDIA card with one of its own, and
        // the NVIDIA profile with a number and a setting that is not one.
        WriteString(RegRoot::LocalMachine, ScopedDisplayAdapters::Key(0), L"DriverDesc", L"NVIDIA GeForce RTX 4070");
        WriteString(RegRoot::LocalMachine, ScopedDisplayAdapters::Key(0), L"ProviderName", L"NVIDIA");
        WriteDword(RegRoot::LocalMachine, ScopedDisplayAdapters::Key(0), L"PerfLevelSrc", 0x3322);
        values.Set(RegRoot::LocalMachine, kGraphics, L"HwSchMode", DwordValue(1));
        values.Set(RegRoot::LocalMachine, kGames, L"GPU Priority", DwordValue(2));
        values.Remove(RegRoot::LocalMachine, kGames, L"Priority");
        values.Set(RegRoot::CurrentUser, kCapture, L"AppCaptureEnabled", DwordValue(1));
        WriteDword(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", L"1057EB71", 0);
        WriteString(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", L"00A879CF", L"user text");
        // TRIM off, hibernation on, no paging file, memory compression on.
        values.Set(RegRoot::LocalMachine, kFileSystem, L"DisableDeleteNotification", DwordValue(1));
        values.Set(RegRoot::LocalMachine, L"SYSTEM\\CurrentControlSet\\Control\\Power", L"HibernateEnabled", DwordValue(1));
        const wchar_t none[] = L"\0";
        const RegistryValue noPagingFile{REG_MULTI_SZ, std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(none),
                                                                           reinterpret_cast<const uint8_t*>(none) + sizeof(none))};
        values.Set(RegRoot::LocalMachine, kMemory, L"PagingFiles", noPagingFile);
        SetFakeMemoryCompression(FakeCompression::On);
        // Every run starts with what any user could plant in its environment and folder.
        planted = std::make_unique<PlantedEnvironment>();
    }
    void TearDown() override {
        Run(L"--uninstall --no-pause");
        SetFakeMemoryCompression(FakeCompression::Absent);
        DeleteTestService(L"SysMain");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPowerUser);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, hiddenKey_.c_str());
        for (const wchar_t* key : {L"Software\\QuorvantisTests\\FakeSrClient", L"Software\\QuorvantisTests\\FakeSystemRestore", kFakeNvapi}) {
            RegDeleteTreeW(HKEY_CURRENT_USER, key);
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NVIDIA Corporation\\NvControlPanel2");
    }

    // Balanced (the user's, active) and High Performance listed, Windows' hidden Ultimate
    // Performance template, each with a value of every row; one storage setting hidden.
    void SeedPowerPlans() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPowerUser);
        const std::wstring balanced = GuidText(BalancedScheme()), high = GuidText(HighPerformanceScheme());
        uint32_t value = 11;
        for (const auto& [root, scheme] : {std::pair{std::wstring(kSchemes), balanced}, std::pair{std::wstring(kSchemes), high},
                                           std::pair{std::wstring(kPowerUser) + L"\\Default\\PowerSchemes", GuidText(UltimateTemplateScheme())}}) {
            for (const auto rows : {CpuTuneRows(), StoragePowerRows()}) {
                for (const PowerSettingRow& row : rows) {
                    const std::wstring key = root + L"\\" + scheme + L"\\" + GuidText(row.subgroup) + L"\\" + GuidText(row.setting);
                    WriteDword(RegRoot::LocalMachine, key, L"ACSettingIndex", ++value);
                    WriteDword(RegRoot::LocalMachine, key, L"DCSettingIndex", ++value);
                }
            }
        }
        // Windows keeps the active plan's GUID in lower case.
        WriteString(RegRoot::LocalMachine, kSchemes, L"ActivePowerScheme", LowerCase(balanced));
        const PowerSettingRow& hidden = StoragePowerRows()[2];
        hiddenKey_ = L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\" + GuidText(hidden.subgroup) + L"\\" +
                     GuidText(hidden.setting);
        WriteDword(RegRoot::LocalMachine, hiddenKey_, L"Attributes", 3);  // hidden, and shown on Modern Standby PCs
    }
    ProgramRun Run(const std::wstring& arguments) { return RunProgram(BinDirectory() + L"\\Quorvantis.exe", arguments, 180000); }
    std::wstring hiddenKey_;
};

}  // namespace

TEST_P(Preview, EveryChangeTheRunMakesIsInThePlanAndEveryPlannedChangeIsMade) {
    const Case& c = GetParam();
    const ProgramRun preview = Run(std::wstring(L"--what-if --json ") + c.preview);
    ASSERT_EQ(preview.exitCode, 0u) << preview.out;
    const std::vector<Planned> plan = PlanOf(preview.out);
    for (const wchar_t* step : c.steps) {
        EXPECT_TRUE(std::any_of(plan.begin(), plan.end(), [&](const Planned& p) { return p.step == step; }))
            << ToUtf8(step) << "\n" << preview.out;
    }
    const Snapshot before = Snapshot::Take();
    const ProgramRun run = Run(std::wstring(c.run) + L" --yes --no-pause");
    ASSERT_EQ(run.exitCode, 0u) << ReadProgramLog();
    const Snapshot after = Snapshot::Take();

    std::vector<const Planned*> made;
    std::wstring unexplained;
    for (Difference d : Differences(before, after)) {
        // The state key holds the records, which are what the plan's changes keep.
        if (d.root == RegRoot::LocalMachine && StartsWithText(d.key, L"SOFTWARE\\Quorvantis")) continue;
        // The service manager's own count of the services it started.
        if (d.root == RegRoot::LocalMachine && SameText(d.key, L"SYSTEM\\CurrentControlSet\\Control\\ServiceCurrent")) continue;
        // The stand-in driver store's working copy: what counts is the profile it saves.
        if (d.root == RegRoot::CurrentUser && StartsWithText(d.key, std::wstring(kFakeNvapi) + L"\\Session")) continue;
        // Policies are one key in both registry views: the 32-bit view shows the same value.
        const std::wstring wow = L"SOFTWARE\\Wow6432Node\\";
        if (d.root == RegRoot::LocalMachine && StartsWithText(d.key, wow + L"Policies")) d.key = L"SOFTWARE\\" + d.key.substr(wow.size());
        if (const Planned* p = Explain(d, plan)) made.push_back(p);
        else unexplained += d.Text() + L"\n";
    }
    EXPECT_TRUE(unexplained.empty()) << "changed without being in the plan:\n" << ToUtf8(unexplained) << "\n" << preview.out;
    for (const Planned& p : plan) {
        if (p.state != L"would-change" || p.keeping == L"temporary") continue;
        const bool happened = std::find(made.begin(), made.end(), &p) != made.end() ||
                              (p.id == L"timer.copy" && FileExists(InstalledExePath()));
        EXPECT_TRUE(happened) << "planned but left as it was: " << ToUtf8(p.id) << " " << ToUtf8(p.setting);
    }
    // No tool a step started saw what the user planted.
    EXPECT_EQ(planted->Seen(), L"") << planted->Record();
}

// --install runs the tweak steps of the default flow too, unless each is left out.
constexpr const wchar_t* kInstallOnly =
    L"--install --resolution 10000 --no-prepare --no-ppm --no-gpu --no-afterburner --no-memory --no-storage";

INSTANTIATE_TEST_SUITE_P(
    EachStepAndTheDefaultFlow, Preview,
    testing::Values(Case{"Prepare", L"--apply-prepare", L"--apply-prepare", {L"Prepare"}},
                    Case{"TimerService", kInstallOnly, kInstallOnly, {L"Timer service"}},
                    Case{"CpuTune", L"--apply-ppm --ppm", L"--apply-ppm --ppm", {L"CPU Tune"}},
                    Case{"GpuConfig", L"--apply-gpu --gpu", L"--apply-gpu --gpu", {L"GPU Config"}},
                    Case{"Memory", L"--apply-memory", L"--apply-memory", {L"Memory"}},
                    Case{"Storage", L"--apply-storage", L"--apply-storage", {L"Storage"}},
                    Case{"DefaultFlow", L"--resolution 10000 --no-afterburner --yes", L"--cli --resolution 10000 --no-afterburner",
                         {L"Prepare", L"Timer service", L"CPU Tune", L"GPU Config", L"Memory", L"Storage"}}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });
