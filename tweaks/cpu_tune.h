#pragma once
// CPU Tune: the Ultimate Performance plan, 22 processor power settings and threaded DPCs off,
// every previous value recorded first so the uninstall can put it back.
bool ApplyCpuTune();
bool RestoreCpuTune();
