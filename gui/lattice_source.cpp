#include "gui/lattice_source.h"

#include <cstdio>

#include "gui/shader_math.h"

namespace {

std::string Define(const char* name, double value) {
    char line[96];
    std::snprintf(line, sizeof(line), "#define %s %.9f\n", name, value);
    return line;
}

}  // namespace

std::string BuildLatticeSource(std::string_view source, int steps) {
    constexpr std::string_view kBegin = "// STEP BEGIN";
    constexpr std::string_view kEnd = "// STEP END";
    const size_t begin = source.find(kBegin);
    const size_t end = source.find(kEnd);
    if (begin == std::string_view::npos || end == std::string_view::npos || end < begin) return {};
    const size_t bodyStart = source.find('\n', begin);
    if (bodyStart == std::string_view::npos || bodyStart > end) return {};
    const std::string_view body = source.substr(bodyStart + 1, end - bodyStart - 1);

    using namespace shader_math;
    std::string text = Define("QV_SIN3", kSin3) + Define("QV_SIN5", kSin5) + Define("QV_SIN7", kSin7) +
                       Define("QV_LOG1", kLog1) + Define("QV_LOG2", kLog2) + Define("QV_LOG3", kLog3) +
                       Define("QV_LOG4", kLog4) + Define("QV_LOG5", kLog5);
    text.append(source.substr(0, begin));
    text.reserve(text.size() + body.size() * static_cast<size_t>(steps) + source.size());
    for (int i = 0; i < steps; ++i) text.append(body);
    text.append(source.substr(end));
    return text;
}
