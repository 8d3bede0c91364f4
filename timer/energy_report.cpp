#include "timer/energy_report.h"

#include <algorithm>
#include <cwctype>

#include "foundation/text.h"

namespace {

// The report as text: UTF-16 with its byte-order mark (as some versions write it) or UTF-8.
std::wstring Decode(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text;
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return FromUtf8(bytes);
}

bool StartsWithAt(std::wstring_view text, size_t at, std::wstring_view word) {
    if (at + word.size() > text.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (std::towlower(text[at + i]) != std::towlower(word[i])) return false;
    }
    return true;
}

size_t FindNoCase(std::wstring_view text, std::wstring_view word, size_t from) {
    for (size_t at = from; at + word.size() <= text.size(); ++at) {
        if (StartsWithAt(text, at, word)) return at;
    }
    return std::wstring_view::npos;
}

// Markup removed, entities decoded, blanks trimmed.
std::wstring PlainText(std::wstring_view markup) {
    std::wstring text;
    bool inTag = false;
    for (size_t i = 0; i < markup.size(); ++i) {
        const wchar_t c = markup[i];
        if (inTag) {
            inTag = c != L'>';
            continue;
        }
        if (c == L'<') {
            inTag = true;
            continue;
        }
        if (c == L'&') {
            const size_t end = markup.find(L';', i);
            if (end != std::wstring_view::npos && end - i <= 10) {
                const std::wstring_view entity = markup.substr(i + 1, end - i - 1);
                wchar_t decoded = 0;
                if (entity == L"amp") decoded = L'&';
                else if (entity == L"lt") decoded = L'<';
                else if (entity == L"gt") decoded = L'>';
                else if (entity == L"quot") decoded = L'"';
                else if (entity == L"apos") decoded = L'\'';
                else if (entity.size() > 1 && entity[0] == L'#') {
                    const bool hex = entity.size() > 2 && (entity[1] == L'x' || entity[1] == L'X');
                    uint32_t value = 0;
                    bool ok = true;
                    for (size_t k = hex ? 2 : 1; k < entity.size() && ok; ++k) {
                        const wchar_t d = entity[k];
                        const int digit = d >= L'0' && d <= L'9' ? d - L'0'
                                          : hex && d >= L'a' && d <= L'f' ? d - L'a' + 10
                                          : hex && d >= L'A' && d <= L'F' ? d - L'A' + 10
                                                                          : -1;
                        ok = digit >= 0 && value < 0x110000;
                        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(std::max(digit, 0));
                    }
                    if (ok && value > 0 && value < 0xD800) decoded = static_cast<wchar_t>(value);
                }
                if (decoded != 0) {
                    text += decoded;
                    i = end;
                    continue;
                }
            }
        }
        text += c;
    }
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

// The texts between each opening and closing tag of the given name, in order.
std::vector<std::wstring> Elements(std::wstring_view block, std::wstring_view open, std::wstring_view close) {
    std::vector<std::wstring> values;
    size_t at = 0;
    while ((at = FindNoCase(block, open, at)) != std::wstring_view::npos) {
        const size_t start = block.find(L'>', at);
        if (start == std::wstring_view::npos) break;
        const size_t end = FindNoCase(block, close, start);
        if (end == std::wstring_view::npos) break;
        values.push_back(PlainText(block.substr(start + 1, end - start - 1)));
        at = end + close.size();
    }
    return values;
}

bool WholeNumber(const std::wstring& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + static_cast<uint64_t>(c - L'0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// A request: the period first, then the process id, then its path. The HTML form puts each
// detail's name in a cell of its own, so words are passed over.
bool AsHolder(std::vector<std::wstring> values, TimerHolder& holder) {
    std::erase_if(values, [](const std::wstring& v) {
        uint32_t number = 0;
        return !WholeNumber(v, number) && v.find(L'\\') == std::wstring::npos;
    });
    for (size_t i = 0; i + 2 < values.size(); ++i) {
        uint32_t period = 0, pid = 0;
        const std::wstring& path = values[i + 2];
        if (WholeNumber(values[i], period) && period > 0 && period <= 10000000 && WholeNumber(values[i + 1], pid) &&
            path.find(L'\\') != std::wstring::npos && path.size() <= 32768) {
            holder = TimerHolder{period, pid, path};
            return true;
        }
    }
    return false;
}

}  // namespace

std::wstring TimerHolder::Name() const {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool ParseEnergyReport(std::string_view report, std::vector<TimerHolder>& holders) {
    holders.clear();
    const std::wstring text = Decode(report);
    // A report powercfg was stopped in the middle of writing is not evidence that nobody holds
    // the clock.
    if (FindNoCase(text, L"</EnergyReport>", 0) == std::wstring::npos && FindNoCase(text, L"</html>", 0) == std::wstring::npos) {
        return false;
    }
    // Entries: XML log entries, or the HTML report's log-entry blocks.
    std::vector<size_t> starts;
    for (const std::wstring_view marker : {std::wstring_view(L"<LogEntry"), std::wstring_view(L"class=\"log-entry\"")}) {
        for (size_t at = 0; (at = FindNoCase(text, marker, at)) != std::wstring::npos; at += marker.size()) starts.push_back(at);
    }
    std::sort(starts.begin(), starts.end());
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : text.size();
        const std::wstring_view block = std::wstring_view(text).substr(starts[k], end - starts[k]);
        std::vector<std::wstring> values = Elements(block, L"<Value", L"</Value>");
        if (values.empty()) values = Elements(block, L"<td", L"</td>");
        TimerHolder holder;
        if (!AsHolder(values, holder)) continue;
        const bool seen = std::any_of(holders.begin(), holders.end(), [&](const TimerHolder& h) {
            return h.pid == holder.pid && h.period == holder.period;
        });
        if (!seen) holders.push_back(std::move(holder));
    }
    return true;
}

std::wstring HoldersText(const std::vector<TimerHolder>& holders) {
    if (holders.empty()) return {};
    std::wstring text = L"Held by ";
    for (size_t i = 0; i < holders.size(); ++i) {
        if (i > 0) text += i + 1 == holders.size() ? L" and " : L", ";
        text += FormatText(L"%ls (PID %lu, %.4f ms)", holders[i].Name().c_str(), static_cast<unsigned long>(holders[i].pid),
                           holders[i].period / 10000.0);
    }
    return text + L".";
}
