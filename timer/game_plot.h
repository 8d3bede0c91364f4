#pragma once
// Both arms of a game comparison as a picture: frame time against percentile, from the median to
// the 99.9th on a scale that spreads the tail (each step to the right is ten times rarer), one
// line per arm and the 99th percentile marked, as SVG. Pure.
#include <string>
#include <vector>

// The tail scale: a position from 0 (the median) to 1 (the 99.9th percentile), each tenth of the
// way a step ten times rarer; and the fraction of frames below a position, and back.
double TailFractionAt(double position);
double TailPositionOf(double fraction);
// The value at a fraction of sorted frames, between neighbouring ranks.
double SortedQuantile(const std::vector<double>& sorted, double fraction);

// Frames of each arm pooled, in any order.
std::string GamePlotSvg(std::vector<double> held, std::vector<double> released, const std::wstring& title,
                        const std::wstring& heldName);
