#include "update/update_text.h"

#include <cwctype>

#include "foundation/text.h"

namespace {

// A minimal reader for the one JSON object the update list is.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : t_(text) {}

    void Blank() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\r' || t_[i_] == '\n')) ++i_;
    }
    bool Take(char c) {
        Blank();
        if (i_ < t_.size() && t_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool Peek(char c) {
        Blank();
        return i_ < t_.size() && t_[i_] == c;
    }
    bool AtEnd() {
        Blank();
        return i_ >= t_.size();
    }
    bool String(std::string& out) {
        out.clear();
        if (!Take('"')) return false;
        while (i_ < t_.size()) {
            const char c = t_[i_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= t_.size()) return false;
            const char e = t_[i_++];
            switch (e) {
            case '"': out += '"'; break;
            case '/': out += '/'; break;
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                uint32_t unit = 0;
                if (!Hex4(unit)) return false;
                // A high surrogate followed by an escaped low one is one character; alone, either
                // half becomes the replacement character.
                if (unit >= 0xD800 && unit <= 0xDBFF && t_.substr(i_, 2) == "\\u") {
                    const size_t mark = i_;
                    i_ += 2;
                    uint32_t low = 0;
                    if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    } else {
                        i_ = mark;
                    }
                }
                if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
                AppendUtf8(out, unit);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool Hex4(uint32_t& value) {
        if (t_.size() - i_ < 4) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = t_[i_++];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return false;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    }
    static void AppendUtf8(std::string& out, uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    // A number without exponent; integer part within 64 bits. negative/whole report what was read.
    bool Number(bool& negative, uint64_t& whole) {
        Blank();
        negative = i_ < t_.size() && t_[i_] == '-';
        if (negative) ++i_;
        const size_t start = i_;
        whole = 0;
        while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') {
            const uint64_t digit = static_cast<uint64_t>(t_[i_] - '0');
            if (whole > (UINT64_MAX - digit) / 10) return false;
            whole = whole * 10 + digit;
            ++i_;
        }
        if (i_ == start) return false;
        if (i_ < t_.size() && t_[i_] == '.') {
            ++i_;
            const size_t fraction = i_;
            while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
            if (i_ == fraction) return false;
        }
        return !(i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E'));
    }
    bool Literal(std::string_view word) {
        Blank();
        if (t_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    // Any value, nested objects and arrays included, skipped by matching brackets.
    bool Skip(int depth = 0) {
        if (depth > 64) return false;
        Blank();
        if (i_ >= t_.size()) return false;
        const char c = t_[i_];
        if (c == '"') {
            std::string ignored;
            return String(ignored);
        }
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++i_;
            if (Take(close)) return true;
            for (;;) {
                if (c == '{') {
                    std::string key;
                    if (!String(key) || !Take(':')) return false;
                }
                if (!Skip(depth + 1)) return false;
                if (Take(close)) return true;
                if (!Take(',')) return false;
            }
        }
        if (c == 't') return Literal("true");
        if (c == 'f') return Literal("false");
        if (c == 'n') return Literal("null");
        bool negative = false;
        uint64_t whole = 0;
        return Number(negative, whole);
    }

private:
    std::string_view t_;
    size_t i_ = 0;
};

bool Hex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

}  // namespace

bool ParseVersion(std::wstring_view text, Version& version) {
    version = {0, 0, 0, 0};
    if (text.empty() || text.size() > 32) return false;
    size_t component = 0, at = 0;
    while (true) {
        if (component >= 4) return false;
        const size_t start = at;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
            value = value * 10 + static_cast<uint32_t>(text[at] - L'0');
            if (value > 65535) return false;
            ++at;
        }
        if (at == start) return false;
        version[component++] = value;
        if (at == text.size()) return true;
        if (text[at] != L'.') return false;
        ++at;
    }
}

int CompareVersions(const Version& a, const Version& b) {
    for (size_t i = 0; i < 4; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

std::wstring VersionText(const Version& v) {
    return v[3] != 0 ? FormatText(L"%u.%u.%u.%u", v[0], v[1], v[2], v[3]) : FormatText(L"%u.%u.%u", v[0], v[1], v[2]);
}

ListError ParseUpdateList(std::string_view json, AppUpdate& update, UpdateSignatures& signatures) {
    update = AppUpdate{};
    signatures = UpdateSignatures{};
    JsonReader reader(json);
    if (reader.AtEnd()) return ListError::NotJson;
    if (!reader.Peek('{')) return reader.Skip() && reader.AtEnd() ? ListError::NotObject : ListError::NotJson;
    reader.Take('{');
    if (!reader.Take('}')) {
        for (;;) {
            std::string key;
            if (!reader.String(key) || !reader.Take(':')) return ListError::NotJson;
            std::string text;
            if (key == "version" || key == "url" || key == "notes" || key == "sha256" || key == "signature" || key == "signature2") {
                if (!reader.Peek('"')) {
                    if (!reader.Skip()) return ListError::NotJson;
                } else {
                    if (!reader.String(text)) return ListError::NotJson;
                    const std::wstring wide = FromUtf8(text);
                    if (key == "version") update.version = wide;
                    else if (key == "url") update.url = wide;
                    else if (key == "notes") update.notes = wide;
                    else if (key == "sha256") update.sha256 = wide;
                    else if (key == "signature") signatures.legacy = wide;
                    else signatures.full = wide;
                }
            } else if (key == "size" && !reader.Peek('"') && !reader.Peek('{') && !reader.Peek('[') && !reader.Peek('t') &&
                       !reader.Peek('f') && !reader.Peek('n')) {
                bool negative = false;
                uint64_t whole = 0;
                if (!reader.Number(negative, whole)) return ListError::NotJson;
                if (!negative) update.size = whole;
            } else if (!reader.Skip()) {
                return ListError::NotJson;
            }
            if (reader.Take('}')) break;
            if (!reader.Take(',')) return ListError::NotJson;
        }
    }
    return reader.AtEnd() ? ListError::None : ListError::NotJson;
}

bool AllowedDownloadPath(std::wstring_view path) {
    const std::wstring lower = LowerCase(path);
    if (lower == L"/quorvantis.exe") return true;
    constexpr std::wstring_view kPrefix = L"/quorvantis-", kSuffix = L".exe";
    if (lower.size() <= kPrefix.size() + kSuffix.size() || lower.compare(0, kPrefix.size(), kPrefix) != 0 ||
        lower.compare(lower.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
        return false;
    }
    const std::wstring release = lower.substr(kPrefix.size(), lower.size() - kPrefix.size() - kSuffix.size());
    if (release.empty() || release.size() > 64 || release.find(L"..") != std::wstring::npos) return false;
    for (const wchar_t c : release) {
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == L'_';
        if (!ok) return false;
    }
    return true;
}

std::wstring NormaliseSha256(std::wstring_view text) {
    std::wstring out;
    for (const wchar_t c : text) {
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') continue;
        out += static_cast<wchar_t>(std::towlower(c));
    }
    if (out.size() != 64) return {};
    for (const wchar_t c : out) {
        if (!Hex(c)) return {};
    }
    return out;
}

std::string SignedUpdateText(const AppUpdate& update) {
    return "quorvantis-update-2\nversion=" + ToUtf8(update.version) + "\nurl=" + ToUtf8(update.url) +
           "\nsha256=" + ToUtf8(NormaliseSha256(update.sha256)) + "\nsize=" + std::to_string(update.size) +
           "\nnotes=" + ToUtf8(update.notes) + "\n";
}
