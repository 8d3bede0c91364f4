#include "timer/frame_capture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cwctype>
#include <iterator>

#include "foundation/text.h"

namespace {

// The frame-time columns, newest first.
constexpr std::string_view kFrameColumns[] = {"MsBetweenAppStart", "FrameTime", "MsBetweenPresents"};
// No frame of a real game lasts this long; a larger value is a broken row, not a frame.
constexpr double kLongestFrameMs = 60000;

// The fields of one line; a field in double quotes may hold commas and doubled quotes.
void SplitLine(std::string_view line, std::vector<std::string_view>& fields, std::string& scratch) {
    fields.clear();
    scratch.clear();
    // Quoted fields are unescaped into scratch; it is sized first so the views into it stay put.
    scratch.reserve(line.size());
    size_t at = 0;
    while (true) {
        if (at < line.size() && line[at] == '"') {
            const size_t start = scratch.size();
            ++at;
            while (at < line.size()) {
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        scratch += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                scratch += line[at++];
            }
            fields.emplace_back(scratch.data() + start, scratch.size() - start);
            while (at < line.size() && line[at] != ',') ++at;
        } else {
            const size_t end = std::min(line.find(',', at), line.size());
            fields.push_back(line.substr(at, end - at));
            at = end;
        }
        if (at >= line.size()) break;
        ++at;  // the comma
    }
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool ReadMs(std::string_view text, double& value) {
    text = Trimmed(text);
    if (text.empty()) return false;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size() && std::isfinite(value) && value > 0 &&
           value < kLongestFrameMs;
}

bool SameName(std::string_view a, std::wstring_view b) {
    const std::wstring wide = FromUtf8(Trimmed(a));
    if (wide.size() != b.size()) return false;
    for (size_t i = 0; i < wide.size(); ++i) {
        if (towlower(wide[i]) != towlower(b[i])) return false;
    }
    return true;
}

}  // namespace

bool ParseFrameCapture(std::string_view csv, std::wstring_view application, FrameCapture& capture, std::wstring& error) {
    capture = FrameCapture{};
    if (csv.size() >= 3 && csv.substr(0, 3) == "\xEF\xBB\xBF") csv.remove_prefix(3);
    std::vector<std::string_view> fields;
    std::string scratch;
    size_t frameColumn = 0, applicationColumn = 0, columns = 0;
    bool header = false, hasApplication = false;
    size_t lineStart = 0;
    while (lineStart < csv.size()) {
        size_t lineEnd = csv.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = csv.size();
        const std::string_view line = Trimmed(csv.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (line.empty()) continue;
        SplitLine(line, fields, scratch);
        if (!header) {
            // The first line names the columns.
            size_t rank = std::size(kFrameColumns);
            for (size_t i = 0; i < fields.size(); ++i) {
                const std::string_view name = Trimmed(fields[i]);
                for (size_t r = 0; r < rank; ++r) {
                    if (name == kFrameColumns[r]) {
                        rank = r;
                        frameColumn = i;
                    }
                }
                if (name == "Application") {
                    hasApplication = true;
                    applicationColumn = i;
                }
            }
            if (rank == std::size(kFrameColumns)) {
                error = L"The frame capture has no frame-time column (MsBetweenAppStart, FrameTime or MsBetweenPresents).";
                return false;
            }
            capture.column = FromUtf8(kFrameColumns[rank]);
            columns = fields.size();
            header = true;
            continue;
        }
        if (!application.empty() && hasApplication &&
            (applicationColumn >= fields.size() || !SameName(fields[applicationColumn], application))) {
            continue;
        }
        double ms = 0;
        if (fields.size() != columns || !ReadMs(fields[frameColumn], ms)) {
            ++capture.skippedRows;
            continue;
        }
        capture.frameMs.push_back(ms);
    }
    if (!header) {
        error = L"The frame capture is empty.";
        return false;
    }
    if (capture.frameMs.empty()) {
        error = application.empty() ? std::wstring(L"The frame capture holds no frames.")
                                    : L"The frame capture holds no frames of " + std::wstring(application) + L".";
        return false;
    }
    return true;
}
