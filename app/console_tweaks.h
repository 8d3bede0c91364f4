#pragma once
// The console's tweak steps and the worker entries through which the window runs them.
#include "app/options.h"

class Feed;

// Whether CPU Tune runs for this processor class: "--ppm" forces it, "--yes" applies it only to
// a locked CPU, otherwise the user is asked (without a console the question's default holds).
bool DecideCpuTune(const Options& options, int cpuClass);
// The same without asking: what the question's default (or --ppm) decides.
bool CpuTuneByDefault(const Options& options, int cpuClass);

// Step results: 0 done, 1 failed, 2 skipped or declined.
int ConsolePpmStep(const Options& options);
int ConsoleGpuStep(const Options& options);
int ConsoleAfterburnerStep(const Options& options);
// The restore point, memory and storage questions of the default flow.
void ConsoleRestorePointStep(const Options& options);
void ConsoleMemoryStep(const Options& options);
void ConsoleStorageStep(const Options& options);
// "--apply-prepare", "--apply-memory", "--apply-storage": 0 when the step succeeds, else 1.
int RunSingleTweakCommand(const Options& options);
// The status report's PPM and GPU lines.
// True when the step is applied.
bool ShowPpmStatus();
bool ShowGpuStatus();

// Worker entries: set the thread's feed and dwell flag, announce the step, run the catalogue's
// engine function of the step in that slot; 0 or 1.
int StepWorker(int slot, Feed* feed);
int AfterburnerWorker(Feed* feed);
