#include "afterburner/afterburner_text.h"

#include <cstring>
#include <vector>

#include "foundation/text.h"

namespace {

constexpr std::wstring_view kSuccess[] = {L"Overclocked curve exported", L"Scan succeeded"};
constexpr std::wstring_view kFailure[] = {L"Scan failed", L"Scan cancelled", L"Failed to start scanning"};
constexpr std::wstring_view kActivity[] = {L"Start scanning", L"Resume scanning", L"Scanning point"};

// The last position of any of the markers, or npos.
template <size_t N>
size_t LastOf(std::wstring_view text, const std::wstring_view (&markers)[N]) {
    size_t last = std::wstring_view::npos;
    for (const std::wstring_view marker : markers) {
        const size_t at = text.rfind(marker);
        if (at != std::wstring_view::npos && (last == std::wstring_view::npos || at > last)) last = at;
    }
    return last;
}

constexpr size_t npos = std::wstring_view::npos;

uint32_t Read32(const uint8_t* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

// The file's line ending, as its first line has it: CR LF as Afterburner writes it, or LF. One
// ending for the whole file, so a stray CR at the end of a line of an LF file stays part of that
// line instead of turning the copy into a CR LF file.
bool CrLfFile(const std::string& text) {
    const size_t first = text.find('\n');
    return first != std::string::npos && first > 0 && text[first - 1] == '\r';
}

std::vector<std::string> SplitLines(const std::string& text, bool crlf) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (crlf && !line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// [first, last) of a section's key lines; false when the section is absent.
bool SectionRange(const std::vector<std::string>& lines, const std::string& name, size_t& header, size_t& end) {
    const std::string wanted = "[" + name + "]";
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line != wanted) continue;
        header = i;
        end = i + 1;
        while (end < lines.size() && (lines[end].empty() || lines[end][0] != '[')) ++end;
        return true;
    }
    return false;
}

int FindKeyLine(const std::vector<std::string>& lines, size_t from, size_t to, const std::string& key) {
    for (size_t i = from; i < to; ++i) {
        if (lines[i].rfind(key + "=", 0) == 0) return static_cast<int>(i);
    }
    return -1;
}

long long LeadingNumber(const std::string& line) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return 0;
    long long value = 0;
    for (size_t i = eq + 1; i < line.size() && line[i] >= '0' && line[i] <= '9' && value < 1000000000000LL; ++i) {
        value = value * 10 + (line[i] - '0');
    }
    return value;
}

}  // namespace

bool SetConfigKey(std::string& text, std::string_view key, std::string_view value) {
    if (key.empty()) return false;
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, key.size(), key) == 0) {
            size_t end = text.find('\n', at);
            // A CR before the newline belongs to the line ending, not the value.
            if (end == std::string::npos) end = text.size();
            else if (end > at && text[end - 1] == '\r') --end;
            text.replace(at, end - at, std::string(key) + " = " + std::string(value));
            return true;
        }
        const size_t next = text.find('\n', at);
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return false;
}

ScanOutcome ClassifyScanStatus(std::wstring_view status) {
    const size_t s = LastOf(status, kSuccess), f = LastOf(status, kFailure), a = LastOf(status, kActivity);
    if (s != npos && (f == npos || f < s) && (f == npos || (a != npos && a >= f))) return ScanOutcome::Succeeded;
    if (f != npos && (a == npos || a < f) && (s == npos || s < f)) return ScanOutcome::Failed;
    return ScanOutcome::Running;
}

bool ScanActivitySeen(std::wstring_view status) { return LastOf(status, kActivity) != npos; }

bool ScanProgress(std::wstring_view status, double& fraction) {
    constexpr std::wstring_view kPoint = L"Scanning point ";
    const size_t at = status.find(kPoint);
    if (at == npos) return false;
    size_t i = at + kPoint.size();
    const auto number = [&](uint64_t& value) {
        const size_t start = i;
        value = 0;
        const auto digit = [&] { return i < status.size() && status[i] >= L'0' && status[i] <= L'9'; };
        while (digit() && i - start < 9) value = value * 10 + (status[i++] - L'0');
        // A longer count is not a shorter one with its tail cut off.
        return i > start && !digit();
    };
    uint64_t n = 0, m = 0;
    if (!number(n) || status.substr(i, 4) != L" of ") return false;
    i += 4;
    if (!number(m) || m == 0) return false;
    fraction = static_cast<double>(n) / static_cast<double>(m);
    return true;
}

bool CopyStartupToProfile1(const std::string& text, std::string& copied, std::wstring& resultLine) {
    const bool crlf = CrLfFile(text);
    const std::string ending = crlf ? "\r\n" : "\n";
    std::vector<std::string> lines = SplitLines(text, crlf);
    size_t startupHeader = 0, startupEnd = 0;
    if (!SectionRange(lines, "Startup", startupHeader, startupEnd)) return false;
    // Take the Startup lines first: inserting into Profile1 may move them.
    std::vector<std::pair<std::string, std::string>> wanted;
    for (const char* key : {"Format", "PowerLimit", "ThermalLimit", "ThermalPrioritize", "CoreClkBoost", "VFCurve", "MemClkBoost"}) {
        const int line = FindKeyLine(lines, startupHeader + 1, startupEnd, key);
        if (line >= 0) wanted.emplace_back(key, lines[static_cast<size_t>(line)]);
    }
    if (wanted.empty()) return false;
    std::string core, memory, startupCurve;
    for (const auto& [key, line] : wanted) {
        if (key == "CoreClkBoost") core = line;
        if (key == "MemClkBoost") memory = line;
        if (key == "VFCurve") startupCurve = line;
    }
    for (const auto& [key, line] : wanted) {
        size_t header = 0, end = 0;
        if (!SectionRange(lines, "Profile1", header, end)) {
            size_t defaultsHeader = 0, defaultsEnd = 0;
            const size_t at = SectionRange(lines, "Defaults", defaultsHeader, defaultsEnd) ? defaultsHeader : lines.size();
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), {"[Profile1]", line});
            continue;
        }
        const int existing = FindKeyLine(lines, header + 1, end, key);
        if (existing >= 0) lines[static_cast<size_t>(existing)] = line;
        else lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end), line);
    }
    size_t header = 0, end = 0;
    SectionRange(lines, "Profile1", header, end);
    const int profileCurve = FindKeyLine(lines, header + 1, end, "VFCurve");
    if (startupCurve.empty() || profileCurve < 0 || lines[static_cast<size_t>(profileCurve)] != startupCurve) return false;
    copied.clear();
    for (const std::string& line : lines) copied += line + ending;
    const long long coreBoost = LeadingNumber(core), memoryBoost = LeadingNumber(memory);
    resultLine = coreBoost != 0 || memoryBoost != 0
                     ? FormatText(L"Profile 1 applies the scanned curve at every logon (core +%lld MHz, memory +%lld MHz).", coreBoost / 1000,
                                  memoryBoost / 1000)
                     : L"Profile 1 applies the scanned voltage curve at every logon.";
    return true;
}

bool ReadMacmHeader(const uint8_t* mapping, size_t size, MacmHeader& header) {
    header = {};
    if (mapping == nullptr || size < kMacmHeaderMinimum) return false;
    uint8_t copy[kMacmHeaderMinimum];
    std::memcpy(copy, mapping, sizeof(copy));
    if (Read32(copy) != kMacmSignature) return false;
    const MacmHeader read{Read32(copy + 8), Read32(copy + 12), Read32(copy + 16)};
    if (read.headerSize < kMacmHeaderMinimum || read.headerSize > size || read.entrySize < kMacmEntrySize) return false;
    header = read;
    return true;
}

int MacmNvidiaEntry(const MacmHeader& header, const uint8_t* mapping, size_t size, std::string& identifier) {
    identifier.clear();
    if (mapping == nullptr || header.headerSize < kMacmHeaderMinimum || header.entrySize < kMacmEntrySize) return -1;
    constexpr size_t kIdentifierBytes = kMacmEntrySize - kMacmIdentifierOffset;
    for (uint32_t i = 0; i < header.count && i < 64; ++i) {
        const uint64_t entry = header.headerSize + static_cast<uint64_t>(header.entrySize) * i;
        if (entry + header.entrySize > size) break;  // an entry the mapping does not hold whole is never read
        uint8_t flags[4];
        char id[kIdentifierBytes];
        std::memcpy(flags, mapping + entry + kMacmFlagsOffset, sizeof(flags));
        std::memcpy(id, mapping + entry + kMacmIdentifierOffset, sizeof(id));
        size_t length = 0;
        while (length < 220 && id[length] != 0) ++length;
        if (std::string_view(id, length).rfind("VEN_10DE", 0) == 0 && Read32(flags) != 0) {
            identifier.assign(id, length);
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool SafeProfileIdentifier(std::string_view identifier) {
    if (identifier.empty() || identifier.size() > 220) return false;
    for (const char c : identifier) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '&' || c == '_';
        if (!ok) return false;
    }
    return true;
}
