#include "app/options.h"
#include "app/commands.h"
#include "timer/sweep_plan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::wstring>;

Options Parsed(const Args& args) {
    Options options;
    std::wstring error;
    EXPECT_TRUE(ParseOptionsText(args, options, error)) << error;
    return options;
}

struct BadLine {
    Args args;
    const wchar_t* error;
};

const BadLine kBadLines[] = {
    {{L"--revert"}, L"--revert requires the id of a change (as --changes lists it) or a step (ppm, gpu, memory, storage, "
                    L"prepare, install, afterburner)."},
    {{L"--revert", L"--yes"}, L"--revert requires the id of a change (as --changes lists it) or a step (ppm, gpu, memory, "
                              L"storage, prepare, install, afterburner)."},
    {{L"--bogus"}, L"Unknown argument: --bogus (try --help)"},
    {{L"--STATUS"}, L"Unknown argument: --STATUS (try --help)"},
    {{L"--install", L"x"}, L"Unknown argument: x (try --help)"},
    {{L"--quick=1"}, L"Unknown argument: --quick=1 (try --help)"},
    {{L"--samples"}, L"--samples requires a value."},
    {{L"--samples", L"9"}, L"--samples requires a whole number >= 10."},
    {{L"--passes", L"0"}, L"--passes requires a whole number >= 1."},
    {{L"--verify", L"99"}, L"--verify requires a whole number >= 100."},
    // Counts that would exhaust memory are refused before anything runs.
    {{L"--samples", L"10001"}, L"--samples requires a whole number from 10 to 10000."},
    {{L"--verify", L"4000000000"}, L"--verify requires a whole number from 100 to 100000."},
    {{L"--resolution", L"5070x"}, L"--resolution (100-ns units, e.g. 5070 = 0.507 ms) requires a whole number >= 1."},
    {{L"--resolution", L""}, L"--resolution (100-ns units, e.g. 5070 = 0.507 ms) requires a whole number >= 1."},
    {{L"--resolution", L"0"}, L"--resolution (100-ns units, e.g. 5070 = 0.507 ms) requires a whole number >= 1."},
    {{L"--resolution"}, L"--resolution (100-ns units, e.g. 5070 = 0.507 ms) requires a value."},
    // A minus sign would wrap to a huge period, and an overflow would be silently clamped.
    {{L"--resolution", L"-5070"}, L"--resolution (100-ns units, e.g. 5070 = 0.507 ms) requires a whole number >= 1."},
    {{L"--to", L"99999999999"}, L"--to (100-ns units) requires a whole number >= 1."},
    {{L"--margin", L"-1"}, L"--margin (100-ns units) requires a whole number >= 0."},
    {{L"--margin"}, L"--margin (100-ns units) requires a value."},
    {{L"--from", L"0x10"}, L"--from (100-ns units) requires a whole number >= 1."},
    {{L"--step", L"1.5"}, L"--step (100-ns units) requires a whole number >= 1."},
    {{L"--fidelity"}, L"--fidelity requires low, medium, high or adaptive."},
    {{L"--fidelity", L"Medium"}, L"--fidelity requires low, medium, high or adaptive."},
    {{L"--fidelity", L"ultra"}, L"--fidelity requires low, medium, high or adaptive."},
    {{L"--from", L"5000", L"--to", L"5000"}, L"--to must be greater than --from."},
    {{L"--to", L"4000", L"--from", L"5000"}, L"--to must be greater than --from."},
    {{L"--ppm", L"--no-ppm"}, L"--ppm and --no-ppm cannot be used together."},
    {{L"--gpu", L"--no-gpu"}, L"--gpu and --no-gpu cannot be used together."},
    {{L"--afterburner", L"--no-afterburner"}, L"--afterburner and --no-afterburner cannot be used together."},
    // Only the first conflict is reported, in the fixed order.
    {{L"--no-gpu", L"--gpu", L"--no-ppm", L"--ppm"}, L"--ppm and --no-ppm cannot be used together."},
    {{L"--from", L"9", L"--to", L"8", L"--ppm", L"--no-ppm"}, L"--to must be greater than --from."},
    // The game is named by its program's file name, which is what the process list and the capture tool match.
    {{L"--compare-game"}, L"--compare-game requires the game's program name, for example --compare-game game.exe."},
    {{L"--compare-game", L"--minutes", L"5"}, L"--compare-game requires the game's program name, for example --compare-game game.exe."},
    {{L"--compare-game", L"C:\\Games\\game.exe"}, L"--compare-game takes the game's program file name, such as game.exe, not C:\\Games\\game.exe."},
    {{L"--compare-game", L"game"}, L"--compare-game takes the game's program file name, such as game.exe, not game."},
    {{L"--compare-game", L"game.exe", L"--minutes", L"1"}, L"--minutes requires a whole number >= 2."},
    {{L"--compare-game", L"game.exe", L"--minutes", L"61"}, L"--minutes requires a whole number from 2 to 60."},
    {{L"--presentmon"}, L"--presentmon requires the full path of PresentMon's console program."},
    // The walk stops at the first error, before any cross-check.
    {{L"--ppm", L"--no-ppm", L"--samples", L"3"}, L"--samples requires a whole number >= 10."},
};

void PrintTo(const BadLine& line, std::ostream* os) {
    for (const std::wstring& a : line.args) *os << testing::PrintToString(a) << ' ';
}

class BadCommandLine : public testing::TestWithParam<BadLine> {};

TEST_P(BadCommandLine, FailsWithTheExactMessage) {
    Options options;
    std::wstring error;
    EXPECT_FALSE(ParseOptionsText(GetParam().args, options, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Options, BadCommandLine, testing::ValuesIn(kBadLines),
                         [](const testing::TestParamInfo<BadLine>& p) { return "Line" + std::to_string(p.index); });

}  // namespace

TEST(ParseOptions, DefaultsAreTheHighFidelityCountsAndMediumLevel) {
    const Options o = Parsed({});
    EXPECT_EQ(o.command, L"");
    EXPECT_EQ(o.step, 10u);
    EXPECT_EQ(o.samples, 150u);
    EXPECT_EQ(o.passes, 3u);
    EXPECT_EQ(o.verify, 1500u);
    EXPECT_EQ(o.fidelity, 1);
    EXPECT_FALSE(o.fidelitySet || o.samplesSet || o.passesSet || o.verifySet || o.marginSet);
}

TEST(ParseOptions, CommandSwitchesStoreTheirWordAndTheLastOneWins) {
    const struct {
        const wchar_t* argument;
        const wchar_t* command;
    } cases[] = {{L"--benchmark", L"benchmark"}, {L"--install", L"install"},   {L"--apply", L"apply"},
                 {L"--status", L"status"},       {L"--stop", L"stop"},         {L"--start", L"start"},
                 {L"--uninstall", L"uninstall"}, {L"--service", L"service"},   {L"--health", L"health"},
                 {L"--guard", L"guard"},         {L"--self-test", L"self-test"}, {L"--apply-ppm", L"ppm"},
                 {L"--apply-gpu", L"gpu"},       {L"--apply-afterburner", L"afterburner"},
                 {L"--apply-prepare", L"prepare"}, {L"--apply-memory", L"memory"}, {L"--apply-storage", L"storage"},
                 {L"--help", L"help"},           {L"-h", L"help"},             {L"/?", L"help"},
                 {L"--version", L"version"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Parsed({c.argument}).command, c.command) << c.argument;
    }
    EXPECT_EQ(Parsed({L"--status", L"--install"}).command, L"install");
    EXPECT_EQ(CommandSwitch(L"ppm"), L"--apply-ppm");
}

// What may change the machine runs locked and elevated; only the three read-only helpers run for
// anyone, and every switch chooses exactly one command.
TEST(CommandTable, LocksRightsAndSwitchesAreTheContract) {
    const std::set<std::wstring> locked = {L"",        L"install",      L"uninstall", L"start",       L"stop",
                                           L"ppm",     L"gpu",          L"afterburner", L"benchmark", L"prepare",
                                           L"memory",  L"storage",      L"check-driver", L"driver",   L"check-update",
                                           L"update",  L"guard",        L"revert",      L"compare-game"};
    const std::set<std::wstring> anyone = {L"help", L"version", L"self-test", L"changes"};
    std::set<std::wstring> words;
    std::set<std::wstring> switches;
    for (const CommandRow& row : Commands()) {
        EXPECT_TRUE(words.insert(row.word).second) << row.word;
        EXPECT_EQ(row.locked, locked.count(row.word) == 1) << row.word;
        const CommandRights expected = anyone.count(row.word) != 0        ? CommandRights::Anyone
                                       : std::wstring(row.word) == L"service" ? CommandRights::ServiceManager
                                                                           : CommandRights::Administrator;
        EXPECT_EQ(row.rights, expected) << row.word;
        EXPECT_NE(row.handler, nullptr) << row.word;
        for (const wchar_t* name : row.switches) {
            if (name == nullptr) continue;
            EXPECT_TRUE(switches.insert(name).second) << name;
            // --revert names what it puts back, --compare-game the game.
            const std::wstring word = row.word;
            const Args line = word == L"revert"         ? Args{name, L"gpu.HAGS"}
                              : word == L"compare-game" ? Args{name, L"game.exe"}
                                                        : Args{name};
            EXPECT_EQ(Parsed(line).command, row.word) << name;
        }
        EXPECT_EQ(CommandForWord(row.word), &row);
    }
    EXPECT_EQ(words.size(), 27u);
    EXPECT_EQ(CommandForSwitch(L"--cli"), nullptr) << "a flag, not a command";
}

TEST(ParseOptions, NumbersFlagsAndFidelity) {
    const Options o = Parsed({L"--resolution", L"+5070", L"--from", L"5000", L"--to", L"6000", L"--margin", L"0",
                              L"--passes", L"50", L"-y", L"--no-pause", L"--elevated", L"--fidelity", L"med",
                              L"--no-prepare", L"--no-memory", L"--no-storage"});
    EXPECT_EQ(o.resolution, 5070u);
    EXPECT_EQ(o.from, 5000u);
    EXPECT_EQ(o.to, 6000u);
    EXPECT_TRUE(o.marginSet);
    EXPECT_EQ(o.margin, 0u);
    EXPECT_EQ(o.passes, 20u);  // values above 20 are capped
    EXPECT_TRUE(o.passesSet);
    EXPECT_TRUE(o.yes && o.noPause && o.elevated);
    // Each step's "--no-..." switch is the one the step catalogue names, and leaves out that step only.
    for (const StepEntry& step : StepCatalogue()) {
        if (step.leaveOut == nullptr) continue;
        const Options left = Parsed({step.leaveOut});
        for (const StepEntry& other : StepCatalogue()) {
            EXPECT_EQ(left.leaveOut[static_cast<size_t>(other.slot)], other.slot == step.slot) << step.leaveOut;
        }
    }
    const Options revert = Parsed({L"--revert", L"storage.ASPM.dc", L"--what-if"});
    EXPECT_EQ(revert.command, L"revert");
    EXPECT_EQ(revert.revertTarget, L"storage.ASPM.dc");
    EXPECT_TRUE(revert.whatIf);
    EXPECT_EQ(o.fidelity, 1);
    EXPECT_TRUE(o.fidelitySet);
    EXPECT_EQ(Parsed({L"--fidelity", L"low"}).fidelity, 0);
    EXPECT_EQ(Parsed({L"--fidelity", L"high"}).fidelity, 2);
    EXPECT_EQ(Parsed({L"--fidelity", L"medium"}).fidelity, 1);
    // An automatic --from leaves --to unchecked.
    EXPECT_EQ(Parsed({L"--to", L"5000"}).to, 5000u);
}

TEST(ParseOptions, QuickIsACoarsePreviewThatExplicitCountsOverride) {
    const Options quick = Parsed({L"--quick"});
    EXPECT_EQ(quick.step, 20u);
    EXPECT_EQ(quick.passes, 1u);
    EXPECT_EQ(quick.samples, 40u);
    EXPECT_EQ(quick.verify, 300u);
    EXPECT_TRUE(quick.passesSet && quick.samplesSet && quick.verifySet);

    // Whatever the order, a spelled-out count wins.
    const Options mixed = Parsed({L"--samples", L"100", L"--quick", L"--step", L"5"});
    EXPECT_EQ(mixed.samples, 100u);
    EXPECT_EQ(mixed.step, 5u);
    EXPECT_EQ(mixed.passes, 1u);
    EXPECT_EQ(mixed.verify, 300u);
    EXPECT_EQ(Parsed({L"--quick", L"--passes", L"3"}).passes, 3u);
    EXPECT_EQ(Parsed({L"--quick", L"--verify", L"1500"}).verify, 1500u);
}

TEST(WantsConsole, GuiIsTheDefaultAndGuiWinsOverEverything) {
    const struct {
        std::vector<std::wstring> args;
        bool console;
    } cases[] = {
        {{}, false},
        {{L"--fidelity", L"high"}, false},
        {{L"--yes", L"--no-pause"}, false},
        {{L"--cli"}, true},
        {{L"--status"}, true},
        {{L"--gui", L"--status"}, false},
        {{L"--cli", L"--gui"}, false},
        {{L"-h"}, true},
        {{L"/?"}, true},
        {{L"--version"}, true},
    };
    for (const auto& c : cases) {
        Options options;
        std::wstring error;
        ASSERT_TRUE(ParseOptionsText(c.args, options, error));
        EXPECT_EQ(WantsConsole(c.args, options), c.console) << (c.args.empty() ? L"(none)" : c.args[0]);
    }
    Options high;
    std::wstring error;
    ParseOptionsText({L"--fidelity", L"high"}, high, error);
    EXPECT_EQ(high.fidelity, 2);
}

TEST(FidelityPreset, MatchesThePublishedTable) {
    const struct {
        int level;
        uint32_t samples, passes, verify;
        double estimate;
    } rows[] = {{0, 8, 1, 100, 12.19245},      {1, 18, 3, 187, 35.72765},  {2, 150, 3, 1500, 202.10375},
                {-3, 8, 1, 100, 12.19245},     {7, 150, 3, 1500, 202.10375}};
    for (const auto& r : rows) {
        const FidelityCounts p = FidelityPreset(r.level);
        EXPECT_EQ(p.samples, r.samples) << r.level;
        EXPECT_EQ(p.passes, r.passes) << r.level;
        EXPECT_EQ(p.verify, r.verify) << r.level;
        EXPECT_NEAR(p.estimateSeconds, r.estimate, 1e-9) << r.level;
    }
}
