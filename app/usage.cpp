#include "app/usage.h"

#include "foundation/console.h"
#include "foundation/log.h"
#include "foundation/product.h"
#include "foundation/text.h"

namespace {

constexpr const wchar_t* kUsageHeader =
    L"Quorvantis %ls - timer resolution, CPU/GPU/memory/storage latency tuning\n"
    L"Software of %ls  \u00B7  %ls\n";

constexpr const wchar_t* kUsageBody =
    L"\n"
    L"Usage:\n"
    L"  Quorvantis.exe                       Open the GUI: named-step tuning workflow.\n"
    L"  Quorvantis.exe --cli                 The same default flow in a console (no GUI).\n"
    L"  Quorvantis.exe --gui                 Force the GUI (default when no command is given).\n"
    L"  Quorvantis.exe --benchmark           Benchmark only; makes no permanent changes.\n"
    L"  Quorvantis.exe --install             Benchmark + install/update the service.\n"
    L"      [--resolution N]                 Skip the benchmark; use N (100-ns units,\n"
    L"                                       e.g. 5070 = 0.507 ms).\n"
    L"  Benchmark tuning (0.50-0.60 ms in 0.001 ms steps):\n"
    L"      --fidelity low|medium|high       Wakes timed at each interval. Default\n"
    L"                                       medium is 1/8 of high: 18 back-to-back\n"
    L"                                       per pass, half as many after an idle gap,\n"
    L"                                       3 passes, verify 187. About 35 seconds.\n"
    L"                                       High is 150 / 3 passes / verify 1500,\n"
    L"                                       about 3 min 20 s. Low is 8 samples,\n"
    L"                                       1 pass, verify 100, about 10 seconds.\n"
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
    L"                                       30 samples, verify 300.\n"
    L"  Quorvantis.exe --apply               Hold a resolution in this console until\n"
    L"      [--resolution N]                 Ctrl+C (default: kernel fastest). One-off,\n"
    L"                                       nothing is installed.\n"
    L"  Quorvantis.exe --status              Show installed/current resolution state.\n"
    L"  Quorvantis.exe --health              Read-only check of applied settings.\n"
    L"  Quorvantis.exe --guard               Re-apply hardened settings. Used by the startup guard.\n"
    L"  Quorvantis.exe --self-test           Check the health-status rules. Changes nothing.\n"
    L"  Quorvantis.exe --stop                Stop the service (keeps it installed).\n"
    L"  Quorvantis.exe --start               Start the installed service.\n"
    L"  Quorvantis.exe --uninstall           Remove the service and restore tweaks.\n"
    L"  Quorvantis.exe --apply-prepare       Create a System Restore point only.\n"
    L"  Quorvantis.exe --apply-ppm           Apply processor-power (PPM) tweaks only.\n"
    L"      --ppm                            Force them even if turbo/PBO is detected.\n"
    L"      --no-ppm                         Skip the CPU Tune step.\n"
    L"  Quorvantis.exe --apply-gpu           Apply GPU driver / Windows graphics tweaks only.\n"
    L"      --gpu                            Force the GPU Config step.\n"
    L"      --no-gpu                         Skip the GPU Config step.\n"
    L"  Quorvantis.exe --apply-afterburner  Install Afterburner and RivaTuner, scan, and\n"
    L"                                       apply the overclock at every logon. This step only.\n"
    L"      --afterburner                    Force that step in the full flow.\n"
    L"      --no-afterburner                 Skip the Afterburner step.\n"
    L"  Quorvantis.exe --apply-memory        Pagefile + disable memory compression only.\n"
    L"  Quorvantis.exe --apply-storage       PCIe/USB/disk/TRIM/SysMain tweaks only.\n"
    L"      --no-prepare / --no-memory / --no-storage\n"
    L"                                       Skip that step in the full flow.\n"
    L"  Quorvantis.exe --yes                 Do not prompt for confirmation.\n"
    L"  Quorvantis.exe --no-pause            Do not pause at the end, and skip the\n"
    L"                                       per-tweak dwell (scripting).\n"
    L"  Quorvantis.exe --service             Internal: service entry point (SCM only).\n"
    L"  Quorvantis.exe --check-driver        Look up the graphics driver the vendor publishes\n"
    L"                                       for this PC. Changes nothing.\n"
    L"  Quorvantis.exe --apply-driver        Download and verify the vendor's package and\n"
    L"                                       install only its display driver (asks first).\n"
    L"  Quorvantis.exe --check-update        Ask the publisher whether a newer version exists.\n"
    L"  Quorvantis.exe --update              Download, verify and install the newer version\n"
    L"                                       in place of this copy and the service's (asks first).\n"
    L"\n";

}  // namespace

std::wstring UsageText(const std::wstring& logPath) {
    // Formatted in pieces: the whole text is longer than one formatted message may be.
    return FormatText(kUsageHeader, kVersionText, kPublisherName, kPublisherWebAddress) + kUsageBody +
           FormatText(L"Log: %ls\n", logPath.c_str());
}

void PrintUsage() { WriteStd(StdStream::Output, UsageText(LogFilePath())); }
