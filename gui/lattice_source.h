#pragma once
// The text the Lattice shader is compiled from: the embedded source with the polynomial
// coefficients as #defines and its march step repeated (Wine's compiler cannot run loops).
#include <string>
#include <string_view>

// At most 260 cells along a ray, marched in passes of 26: one straight-line stretch of 260 takes
// minutes to compile under Wine and a software rasteriser, one of 26 a second or two.
inline constexpr int kLatticeSteps = 260;
inline constexpr int kLatticeStepsPerPass = 26;
inline constexpr int kLatticePasses = kLatticeSteps / kLatticeStepsPerPass;

// Empty when the source lacks its step markers.
std::string BuildLatticeSource(std::string_view source, int steps);
