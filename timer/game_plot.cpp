#include "timer/game_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "foundation/text.h"

namespace {

constexpr double kWidth = 760, kHeight = 380;
constexpr double kLeft = 64, kRight = 24, kTop = 44, kBottom = 52;
// -log10(1 - p) runs from 0.301 at the median to 3 at the 99.9th percentile.
constexpr double kTailFrom = 0.30103, kTailTo = 3;
constexpr int kPoints = 160;
constexpr const char* kHeldColour = "#4c8dff";
constexpr const char* kReleasedColour = "#ff7a9a";
constexpr const char* kInk = "#afc4e8";

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", value);
    return text;
}

std::string Escaped(const std::wstring& text) {
    std::string out;
    for (const char c : ToUtf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c; break;
        }
    }
    return out;
}

}  // namespace

double TailFractionAt(double position) { return 1 - std::pow(10.0, -(kTailFrom + (kTailTo - kTailFrom) * position)); }

double TailPositionOf(double fraction) { return (-std::log10(1 - fraction) - kTailFrom) / (kTailTo - kTailFrom); }

double SortedQuantile(const std::vector<double>& sorted, double fraction) {
    const double rank = fraction * static_cast<double>(sorted.size() - 1);
    const size_t below = static_cast<size_t>(rank);
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (rank - static_cast<double>(below));
}

std::string GamePlotSvg(std::vector<double> held, std::vector<double> released, const std::wstring& title,
                        const std::wstring& heldName) {
    std::sort(held.begin(), held.end());
    std::sort(released.begin(), released.end());
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) + "\" height=\"" + Number(kHeight) +
                      "\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(kHeight) + "\" font-family=\"Segoe UI, sans-serif\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#071638\"/>\n";
    svg += "<text x=\"" + Number(kLeft) + "\" y=\"26\" fill=\"#e6eeff\" font-size=\"15\">" + Escaped(title) + "</text>\n";
    if (held.empty() || released.empty()) return svg + "</svg>\n";

    const double plotWidth = kWidth - kLeft - kRight, plotHeight = kHeight - kTop - kBottom;
    double low = std::min(SortedQuantile(held, 0.5), SortedQuantile(released, 0.5));
    double high = std::max(SortedQuantile(held, 0.999), SortedQuantile(released, 0.999));
    const double pad = std::max(0.5, (high - low) * 0.06);
    low = std::max(0.0, low - pad);
    high += pad;
    const auto x = [&](double position) { return kLeft + position * plotWidth; };
    const auto y = [&](double ms) { return kTop + (1 - (ms - low) / (high - low)) * plotHeight; };

    // Frame-time grid, five steps of a round size.
    const double rough = (high - low) / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double step = rough / magnitude < 2 ? 2 * magnitude : rough / magnitude < 5 ? 5 * magnitude : 10 * magnitude;
    for (double ms = std::ceil(low / step) * step; ms <= high; ms += step) {
        svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kWidth - kRight) + "\" y1=\"" + Number(y(ms)) + "\" y2=\"" +
               Number(y(ms)) + "\" stroke=\"#1c3366\"/>\n";
        svg += "<text x=\"" + Number(kLeft - 8) + "\" y=\"" + Number(y(ms) + 4) + "\" fill=\"" + kInk +
               "\" font-size=\"11\" text-anchor=\"end\">" + Number(ms) + "</text>\n";
    }
    const struct {
        double fraction;
        const char* label;
    } marks[] = {{0.5, "median"}, {0.9, "90th"}, {0.99, "99th"}, {0.999, "99.9th"}};
    for (const auto& mark : marks) {
        const double at = x(TailPositionOf(mark.fraction));
        svg += "<line x1=\"" + Number(at) + "\" x2=\"" + Number(at) + "\" y1=\"" + Number(kTop) + "\" y2=\"" +
               Number(kTop + plotHeight) + "\" stroke=\"#1c3366\"" + (mark.fraction == 0.99 ? " stroke-dasharray=\"4 3\"" : "") + "/>\n";
        svg += "<text x=\"" + Number(at) + "\" y=\"" + Number(kTop + plotHeight + 18) + "\" fill=\"" + kInk +
               "\" font-size=\"11\" text-anchor=\"middle\">" + mark.label + "</text>\n";
    }
    svg += "<text x=\"" + Number(kLeft + plotWidth / 2) + "\" y=\"" + Number(kHeight - 10) + "\" fill=\"" + kInk +
           "\" font-size=\"11\" text-anchor=\"middle\">percentile of frames (each step right is ten times rarer)</text>\n";
    svg += "<text transform=\"translate(16 " + Number(kTop + plotHeight / 2) + ") rotate(-90)\" fill=\"" + kInk +
           "\" font-size=\"11\" text-anchor=\"middle\">frame time (ms)</text>\n";

    const auto curve = [&](const std::vector<double>& sorted, const char* colour) {
        std::string points;
        for (int i = 0; i <= kPoints; ++i) {
            const double position = static_cast<double>(i) / kPoints;
            points += Number(x(position)) + "," + Number(y(SortedQuantile(sorted, TailFractionAt(position)))) + " ";
        }
        svg += std::string("<polyline fill=\"none\" stroke=\"") + colour + "\" stroke-width=\"2\" points=\"" + points + "\"/>\n";
        const double p99 = SortedQuantile(sorted, 0.99);
        const double at = x(TailPositionOf(0.99));
        svg += std::string("<circle cx=\"") + Number(at) + "\" cy=\"" + Number(y(p99)) + "\" r=\"4\" fill=\"" + colour + "\"/>\n";
        svg += std::string("<text x=\"") + Number(at + 8) + "\" y=\"" + Number(y(p99) + 4) + "\" fill=\"" + colour +
               "\" font-size=\"11\">" + Number(p99) + " ms</text>\n";
    };
    curve(released, kReleasedColour);
    curve(held, kHeldColour);
    const double legendY = kTop + 14;
    svg += std::string("<rect x=\"") + Number(kLeft + 12) + "\" y=\"" + Number(legendY - 9) + "\" width=\"14\" height=\"3\" fill=\"" +
           kHeldColour + "\"/><text x=\"" + Number(kLeft + 32) + "\" y=\"" + Number(legendY - 4) + "\" fill=\"" + kInk +
           "\" font-size=\"12\">" + Escaped(heldName) + "</text>\n";
    svg += std::string("<rect x=\"") + Number(kLeft + 12) + "\" y=\"" + Number(legendY + 9) + "\" width=\"14\" height=\"3\" fill=\"" +
           kReleasedColour + "\"/><text x=\"" + Number(kLeft + 32) + "\" y=\"" + Number(legendY + 14) + "\" fill=\"" + kInk +
           "\" font-size=\"12\">released</text>\n";
    return svg + "</svg>\n";
}
