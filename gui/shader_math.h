#pragma once
// The functions the Lattice shader needs but Wine's HLSL compiler lacks (sin, cos, exp, log2),
// built from what it has (pow, floor, comparisons as masks) and polynomials. The same formulas
// run here on the CPU, so tests hold them against the real functions; the coefficients reach
// the shader from here as #defines, so both use exactly the same numbers.
#include <algorithm>
#include <cmath>

namespace shader_math {

inline constexpr double kPi = 3.14159265358979323846;
// sin(y) on [-pi/2, pi/2]: the Taylor terms up to y^7 (error below 2e-4).
inline constexpr double kSin3 = -1.0 / 6, kSin5 = 1.0 / 120, kSin7 = -1.0 / 5040;
// log2(1 + t) on [0, 1): least-squares fit of degree 5 without a constant (error below 3e-5).
inline constexpr double kLog1 = 1.441825124, kLog2 = -0.708674935, kLog3 = 0.415397767, kLog4 = -0.194390433,
                        kLog5 = 0.045870752;

inline double Mask(bool condition) { return condition ? 1.0 : 0.0; }

// Range reduction to [-pi, pi) with floor, then folding into [-pi/2, pi/2] with masks.
inline double Sin(double x) {
    const double t = x * (0.5 / kPi) + 0.5;
    double y = (t - std::floor(t) - 0.5) * 2 * kPi;
    y = y + Mask(y > kPi / 2) * (kPi - 2 * y) + Mask(y < -kPi / 2) * (-kPi - 2 * y);
    const double y2 = y * y;
    return y * (1 + y2 * (kSin3 + y2 * (kSin5 + y2 * kSin7)));
}

inline double Cos(double x) { return Sin(x + kPi / 2); }

// exp(-x) for x >= 0 as (1 - x/256)^256 by eight squarings (pow costs too much per march step).
inline double ExpNeg(double x) {
    double t = std::clamp(1 - x / 256, 0.0, 1.0);
    for (int i = 0; i < 8; ++i) t *= t;
    return t;
}

// log2 of a count, clamped to 1..64 (the voxel scale is full from 64 samples): the power of two
// below it by comparisons, the rest by the polynomial.
inline double Log2Count64(double n) {
    const double m = std::clamp(n, 1.0, 64.0);
    double e = 0, p = 1;
    for (int k = 1; k <= 6; ++k) {
        const double c = Mask(m >= std::pow(2.0, k));
        e += c;
        p *= 1 + c;
    }
    const double t = m / p - 1;
    return e + t * (kLog1 + t * (kLog2 + t * (kLog3 + t * (kLog4 + t * kLog5))));
}

}  // namespace shader_math
