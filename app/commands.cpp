#include "app/commands.h"

#include "app/command_handlers.h"

namespace {

using R = CommandRights;

// The order is the usage text's. A switch that appears in more than one row is a bug the tests catch.
constexpr CommandRow kCommands[] = {
    {L"", {}, R::Administrator, true, DefaultFlowCommand,
     L"  Quorvantis.exe                       Open the GUI: named-step tuning workflow.\n"
     L"  Quorvantis.exe --cli                 The same default flow in a console (no GUI).\n"
     L"  Quorvantis.exe --gui                 Force the GUI (default when no command is given).\n"},
    {L"benchmark", {L"--benchmark"}, R::Administrator, true, BenchmarkCommand,
     L"  Quorvantis.exe --benchmark           Benchmark only; makes no permanent changes.\n"},
    // The sweep's tuning switches follow the install, the first command that runs the sweep.
    {L"install", {L"--install"}, R::Administrator, true, InstallCommand,
     L"  Quorvantis.exe --install             Benchmark + install/update the service.\n"
     L"      [--resolution N]                 Skip the benchmark; use N (100-ns units,\n"
     L"                                       e.g. 5070 = 0.507 ms).\n"
     L"  Benchmark tuning (0.50-0.60 ms in 0.001 ms steps):\n"
     L"      --fidelity low|medium|high|adaptive\n"
     L"                                       Wakes timed at each interval. Default\n"
     L"                                       medium is 1/8 of high: 18 back-to-back\n"
     L"                                       per pass, half as many after an idle gap,\n"
     L"                                       3 passes, verify 187. About 35 seconds.\n"
     L"                                       High is 150 / 3 passes / verify 1500,\n"
     L"                                       about 3 min 20 s. Low is 8 samples,\n"
     L"                                       1 pass, verify 100, about 10 seconds.\n"
     L"                                       Adaptive measures every interval like\n"
     L"                                       low, then up to 6 rounds of 18 more only\n"
     L"                                       where the pick is decided, verify 150.\n"
     L"      --from N / --to N                Sweep range in 100-ns units\n"
     L"                                       (default: kernel fastest .. +1000).\n"
     L"      --step N                         Grid step in 100-ns units (default 10).\n"
     L"      --samples N                      Back-to-back Sleep(1) samples per candidate per\n"
     L"                                       pass; half as many idle-gap samples are added.\n"
     L"                                       Overrides --fidelity for this count.\n"
     L"      --passes N                       Sweep passes, each in a different order.\n"
     L"                                       Overrides --fidelity (default 3, or 1 on low).\n"
     L"      --verify N                       Samples per finalist in the interleaved\n"
     L"                                       verification. Overrides --fidelity.\n"
     L"      --margin N                       Safety margin above the boundary in 100-ns\n"
     L"                                       units (default: auto, >= 50 = 0.005 ms).\n"
     L"      --quick                          Coarse preview (~20 s): step 20, 1 pass,\n"
     L"                                       30 samples, verify 300.\n"},
    // Locked like the benchmark: it pauses the timer service for the run.
    {L"compare-game", {L"--compare-game"}, R::Administrator, true, CompareGameCommand,
     L"  Quorvantis.exe --compare-game NAME.exe\n"
     L"                                       While the game runs, alternate 30 s blocks\n"
     L"                                       holding the installed period and releasing\n"
     L"                                       it, capture the frame times with PresentMon\n"
     L"                                       and say whether holding it changed the\n"
     L"                                       99th-percentile frame time. Changes nothing.\n"
     L"      --minutes N                      How long it runs (2-60, default 4).\n"
     L"      --resolution N                   Hold N instead of the installed period.\n"
     L"      --presentmon PATH                Your own copy of PresentMon's console\n"
     L"                                       program, in a folder only administrators\n"
     L"                                       can change (default: Intel's release\n"
     L"                                       2.3.1, downloaded once and checked).\n"},
    // Holding a period in the console changes nothing that outlives it, so it needs no lock.
    {L"apply", {L"--apply"}, R::Administrator, false, HoldCommand,
     L"  Quorvantis.exe --apply               Hold a resolution in this console until\n"
     L"      [--resolution N]                 Ctrl+C (default: kernel fastest). One-off,\n"
     L"                                       nothing is installed.\n"},
    {L"status", {L"--status"}, R::Administrator, false, StatusCommand,
     L"  Quorvantis.exe --status              Show installed/current resolution state.\n"
     L"      --holders                        Also name the programs holding a finer period\n"
     L"                                       (Windows' energy report, about 10 s).\n"},
    {L"health", {L"--health"}, R::Administrator, false, HealthCommand,
     L"  Quorvantis.exe --health              Read-only check of applied settings.\n"},
    // The records are readable by anyone; what a standard user cannot read is said so.
    {L"changes", {L"--changes"}, R::Anyone, false, ChangesCommand,
     L"  Quorvantis.exe --changes             Every setting Quorvantis changed: the original on\n"
     L"                                       record, the value now, ours, and what --uninstall\n"
     L"                                       would do. Changes nothing.\n"},
    // Locked like the uninstall: it puts settings back.
    {L"revert", {L"--revert"}, R::Administrator, true, RevertCommand,
     L"  Quorvantis.exe --revert ID|STEP      Put back the recorded original of one change (its\n"
     L"                                       id as --changes lists it) or of every change of\n"
     L"                                       one step (ppm, gpu, memory, storage, ...). Asks\n"
     L"                                       before putting back a value changed since by\n"
     L"                                       someone else; --yes puts it back anyway.\n"},
    // Locked: a boot-time guard run must never rebuild what an uninstall is removing.
    {L"guard", {L"--guard"}, R::Administrator, true, GuardCommand,
     L"  Quorvantis.exe --guard               Re-apply hardened settings. Used by the startup guard.\n"},
    {L"self-test", {L"--self-test"}, R::Anyone, false, SelfTestCommand,
     L"  Quorvantis.exe --self-test           Check the health-status rules. Changes nothing.\n"},
    {L"stop", {L"--stop"}, R::Administrator, true, StopCommand,
     L"  Quorvantis.exe --stop                Stop the service (keeps it installed).\n"},
    {L"start", {L"--start"}, R::Administrator, true, StartCommand,
     L"  Quorvantis.exe --start               Start the installed service.\n"},
    {L"uninstall", {L"--uninstall"}, R::Administrator, true, UninstallCommand,
     L"  Quorvantis.exe --uninstall           Remove the service and restore tweaks.\n"},
    {L"prepare", {L"--apply-prepare"}, R::Administrator, true, SingleTweakCommand,
     L"  Quorvantis.exe --apply-prepare       Create a System Restore point only.\n"},
    {L"ppm", {L"--apply-ppm"}, R::Administrator, true, CpuTuneCommand,
     L"  Quorvantis.exe --apply-ppm           Apply processor-power (PPM) tweaks only.\n"
     L"      --ppm                            Force them even if turbo/PBO is detected.\n"
     L"      --no-ppm                         Skip the CPU Tune step.\n"},
    {L"gpu", {L"--apply-gpu"}, R::Administrator, true, GpuConfigCommand,
     L"  Quorvantis.exe --apply-gpu           Apply GPU driver / Windows graphics tweaks only.\n"
     L"      --gpu                            Force the GPU Config step.\n"
     L"      --no-gpu                         Skip the GPU Config step.\n"},
    {L"afterburner", {L"--apply-afterburner"}, R::Administrator, true, AfterburnerCommand,
     L"  Quorvantis.exe --apply-afterburner  Install Afterburner and RivaTuner, scan, and\n"
     L"                                       apply the overclock at every logon. This step only.\n"
     L"      --afterburner                    Force that step in the full flow.\n"
     L"      --no-afterburner                 Skip the Afterburner step.\n"},
    {L"memory", {L"--apply-memory"}, R::Administrator, true, SingleTweakCommand,
     L"  Quorvantis.exe --apply-memory        Pagefile + disable memory compression only.\n"},
    // The default flow's own switches follow its last step.
    {L"storage", {L"--apply-storage"}, R::Administrator, true, SingleTweakCommand,
     L"  Quorvantis.exe --apply-storage       PCIe/USB/disk/TRIM/SysMain tweaks only.\n"
     L"      --no-prepare / --no-memory / --no-storage\n"
     L"                                       Skip that step in the full flow.\n"
     L"  Quorvantis.exe --yes                 Do not prompt for confirmation.\n"
     L"  Quorvantis.exe --no-pause            Do not pause at the end, and skip the\n"
     L"                                       per-tweak dwell (scripting).\n"
     L"  Quorvantis.exe --what-if             With --apply-ppm/-gpu/-memory/-storage/-prepare,\n"
     L"                                       --install, --revert or the default flow: list\n"
     L"                                       every setting it would write, now and after.\n"
     L"                                       Changes nothing.\n"
     L"  Quorvantis.exe --json                With --status, --health, --changes, --revert,\n"
     L"                                       --what-if, --check-driver, --check-update,\n"
     L"                                       --benchmark or --compare-game: one JSON\n"
     L"                                       document on standard output, nothing else.\n"},
    {L"service", {L"--service"}, R::ServiceManager, false, ServiceCommand,
     L"  Quorvantis.exe --service             Internal: service entry point (SCM only).\n"},
    // A lookup only reads the adapter and asks the vendor; locked all the same, so it never runs
    // while an install replaces the driver it reads.
    {L"check-driver", {L"--check-driver"}, R::Administrator, true, CheckDriverCommand,
     L"  Quorvantis.exe --check-driver        Look up the graphics driver the vendor publishes\n"
     L"                                       for this PC. Changes nothing.\n"},
    {L"driver", {L"--apply-driver"}, R::Administrator, true, ApplyDriverCommand,
     L"  Quorvantis.exe --apply-driver        Download and verify the vendor's package and\n"
     L"                                       install only its display driver (asks first).\n"},
    {L"check-update", {L"--check-update"}, R::Administrator, true, CheckUpdateCommand,
     L"  Quorvantis.exe --check-update        Ask the publisher whether a newer version exists.\n"},
    {L"update", {L"--update"}, R::Administrator, true, UpdateCommand,
     L"  Quorvantis.exe --update              Download, verify and install the newer version\n"
     L"                                       in place of this copy and the service's (asks first).\n"},
    {L"help", {L"--help", L"-h", L"/?"}, R::Anyone, false, HelpCommand, nullptr},
    {L"version", {L"--version"}, R::Anyone, false, VersionCommand, nullptr},
};

bool Same(const wchar_t* a, const std::wstring& b) { return a != nullptr && b == a; }

}  // namespace

std::span<const CommandRow> Commands() { return kCommands; }

const CommandRow* CommandForSwitch(const std::wstring& argument) {
    for (const CommandRow& row : kCommands) {
        for (const wchar_t* name : row.switches) {
            if (Same(name, argument)) return &row;
        }
    }
    return nullptr;
}

const CommandRow* CommandForWord(const std::wstring& word) {
    for (const CommandRow& row : kCommands) {
        if (word == row.word) return &row;
    }
    return nullptr;
}

std::wstring CommandUsageLines() {
    std::wstring lines;
    for (const CommandRow& row : kCommands) {
        if (row.usage != nullptr) lines += row.usage;
    }
    return lines;
}
