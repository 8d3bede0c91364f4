#include "app/usage.h"

#include <gtest/gtest.h>

#include "foundation/log.h"
#include "foundation/text.h"
#include "support/test_support.h"

namespace {

// The usage text is a contract with users and scripts: pinned byte for byte (UTF-8).
constexpr const char* kExpectedUsage = R"USAGE(Quorvantis 2.6.2 - timer resolution, CPU/GPU/memory/storage latency tuning
Software of Fenmarch Systems  ·  https://www.fenmarch.com/quorvantis

Usage:
  Quorvantis.exe                       Open the GUI: named-step tuning workflow.
  Quorvantis.exe --cli                 The same default flow in a console (no GUI).
  Quorvantis.exe --gui                 Force the GUI (default when no command is given).
  Quorvantis.exe --benchmark           Benchmark only; makes no permanent changes.
  Quorvantis.exe --install             Benchmark + install/update the service.
      [--resolution N]                 Skip the benchmark; use N (100-ns units,
                                       e.g. 5070 = 0.507 ms).
  Benchmark tuning (0.50-0.60 ms in 0.001 ms steps):
      --fidelity low|medium|high|adaptive
                                       Wakes timed at each interval. Default
                                       medium is 1/8 of high: 18 back-to-back
                                       per pass, half as many after an idle gap,
                                       3 passes, verify 187. About 35 seconds.
                                       High is 150 / 3 passes / verify 1500,
                                       about 3 min 20 s. Low is 8 samples,
                                       1 pass, verify 100, about 10 seconds.
                                       Adaptive measures every interval like
                                       low, then up to 6 rounds of 18 more only
                                       where the pick is decided, verify 150.
      --from N / --to N                Sweep range in 100-ns units
                                       (default: kernel fastest .. +1000).
      --step N                         Grid step in 100-ns units (default 10).
      --samples N                      Back-to-back Sleep(1) samples per candidate per
                                       pass; half as many idle-gap samples are added.
                                       Overrides --fidelity for this count.
      --passes N                       Sweep passes, each in a different order.
                                       Overrides --fidelity (default 3, or 1 on low).
      --verify N                       Samples per finalist in the interleaved
                                       verification. Overrides --fidelity.
      --margin N                       Safety margin above the boundary in 100-ns
                                       units (default: auto, >= 50 = 0.005 ms).
      --quick                          Coarse preview (~20 s): step 20, 1 pass,
                                       30 samples, verify 300.
  Quorvantis.exe --compare-game NAME.exe
                                       While the game runs, alternate 30 s blocks
                                       holding the installed period and releasing
                                       it, capture the frame times with PresentMon
                                       and say whether holding it changed the
                                       99th-percentile frame time. Changes nothing.
      --minutes N                      How long it runs (2-60, default 4).
      --resolution N                   Hold N instead of the installed period.
      --presentmon PATH                Your own copy of PresentMon's console
                                       program, in a folder only administrators
                                       can change (default: Intel's release
                                       2.3.1, downloaded once and checked).
  Quorvantis.exe --apply               Hold a resolution in this console until
      [--resolution N]                 Ctrl+C (default: kernel fastest). One-off,
                                       nothing is installed.
  Quorvantis.exe --status              Show installed/current resolution state.
      --holders                        Also name the programs holding a finer period
                                       (Windows' energy report, about 10 s).
  Quorvantis.exe --health              Read-only check of applied settings.
  Quorvantis.exe --changes             Every setting Quorvantis changed: the original on
                                       record, the value now, ours, and what --uninstall
                                       would do. Changes nothing.
  Quorvantis.exe --revert ID|STEP      Put back the recorded original of one change (its
                                       id as --changes lists it) or of every change of
                                       one step (ppm, gpu, memory, storage, ...). Asks
                                       before putting back a value changed since by
                                       someone else; --yes puts it back anyway.
  Quorvantis.exe --guard               Re-apply hardened settings. Used by the startup guard.
  Quorvantis.exe --self-test           Check the health-status rules. Changes nothing.
  Quorvantis.exe --stop                Stop the service (keeps it installed).
  Quorvantis.exe --start               Start the installed service.
  Quorvantis.exe --uninstall           Remove the service and restore tweaks.
  Quorvantis.exe --apply-prepare       Create a System Restore point only.
  Quorvantis.exe --apply-ppm           Apply processor-power (PPM) tweaks only.
      --ppm                            Force them even if turbo/PBO is detected.
      --no-ppm                         Skip the CPU Tune step.
  Quorvantis.exe --apply-gpu           Apply GPU driver / Windows graphics tweaks only.
      --gpu                            Force the GPU Config step.
      --no-gpu                         Skip the GPU Config step.
  Quorvantis.exe --apply-afterburner  Install Afterburner and RivaTuner, scan, and
                                       apply the overclock at every logon. This step only.
      --afterburner                    Force that step in the full flow.
      --no-afterburner                 Skip the Afterburner step.
  Quorvantis.exe --apply-memory        Pagefile + disable memory compression only.
  Quorvantis.exe --apply-storage       PCIe/USB/disk/TRIM/SysMain tweaks only.
      --no-prepare / --no-memory / --no-storage
                                       Skip that step in the full flow.
  Quorvantis.exe --yes                 Do not prompt for confirmation.
  Quorvantis.exe --no-pause            Do not pause at the end, and skip the
                                       per-tweak dwell (scripting).
  Quorvantis.exe --what-if             With --apply-ppm/-gpu/-memory/-storage/-prepare,
                                       --install, --revert or the default flow: list
                                       every setting it would write, now and after.
                                       Changes nothing.
  Quorvantis.exe --json                With --status, --health, --changes, --revert,
                                       --what-if, --check-driver, --check-update,
                                       --benchmark or --compare-game: one JSON
                                       document on standard output, nothing else.
  Quorvantis.exe --service             Internal: service entry point (SCM only).
  Quorvantis.exe --check-driver        Look up the graphics driver the vendor publishes
                                       for this PC. Changes nothing.
  Quorvantis.exe --apply-driver        Download and verify the vendor's package and
                                       install only its display driver (asks first).
  Quorvantis.exe --check-update        Ask the publisher whether a newer version exists.
  Quorvantis.exe --update              Download, verify and install the newer version
                                       in place of this copy and the service's (asks first).

Log: C:\ProgramData\Quorvantis\Quorvantis.log
)USAGE";

}  // namespace

TEST(Usage, TextIsExactWithVersionPublisherAndLogPath) {
    EXPECT_EQ(ToUtf8(UsageText(L"C:\\ProgramData\\Quorvantis\\Quorvantis.log")), kExpectedUsage);
}

TEST(Usage, ShowsTheLogFileOfTheCurrentDataDirectory) {
    const ScopedProgramFolders folders(L"D:\\Shared");
    const std::wstring text = UsageText(LogFilePath());
    EXPECT_TRUE(text.ends_with(L"\n\nLog: D:\\Shared\\Quorvantis\\Quorvantis.log\n")) << text;
}
