#pragma once
// Both arms of a game comparison as a picture: frame time against percentile, from the median to
// the 99.9th on a scale that spreads the tail (each step to the right is ten times rarer), one
// line per arm and the 99th percentile marked, as SVG. Pure.
#include <string>
#include <vector>

// Frames of each arm pooled, in any order.
std::string GamePlotSvg(std::vector<double> held, std::vector<double> released, const std::wstring& title,
                        const std::wstring& heldName);
