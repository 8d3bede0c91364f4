#pragma once
// The game comparison's analysis on seeded game models: how often it claims a difference where
// there is none, and how often it finds a 1 ms effect at the 99th percentile, in a 4-minute run.
#include <string>

void GameFigures(int games);
// One seeded 144 fps game with a stutter burst every 5 s and a 1 ms effect, analysed and drawn as
// the comparison draws it.
void GamePlotExample(const std::wstring& path);
