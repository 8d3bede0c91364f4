#pragma once
// How good the benchmark's pick is against the simulated machines' ground truth, beside the
// common method of timing 20 back-to-back sleeps per period (selection_bench.cpp).
// detail adds one line per machine on standard error: its model, the best period and each pick.
void SelectionFigures(int machines, bool detail = false);
// The benchmark's own console output on one machine of the population, at one fidelity level.
void SelectionRun(int machine, int level);
