#include "foundation/json_reader.h"

#include "foundation/text.h"

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : t_(text) {}

    bool Value(JsonValue& out, int depth) {
        if (depth > kJsonMaxDepth) return false;
        Blank();
        if (i_ >= t_.size()) return false;
        switch (t_[i_]) {
        case '{': return Object(out, depth);
        case '[': return Array(out, depth);
        case '"': out.kind = JsonValue::Kind::String; return String(out.text);
        case 't': out.kind = JsonValue::Kind::Bool; out.boolean = true; return Literal("true");
        case 'f': out.kind = JsonValue::Kind::Bool; return Literal("false");
        case 'n': out.kind = JsonValue::Kind::Null; return Literal("null");
        default: out.kind = JsonValue::Kind::Number; return Number(out.number);
        }
    }

    bool AtEnd() {
        Blank();
        return i_ == t_.size();
    }

private:
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
    bool Literal(std::string_view word) {
        if (t_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }

    bool Object(JsonValue& out, int depth) {
        out.kind = JsonValue::Kind::Object;
        ++i_;
        if (Take('}')) return true;
        for (;;) {
            Blank();
            std::wstring key;
            if (i_ >= t_.size() || t_[i_] != '"' || !String(key) || !Take(':')) return false;
            JsonValue member;
            if (!Value(member, depth + 1)) return false;
            out.members.push_back({ToUtf8(key), std::move(member)});
            if (Take('}')) return true;
            if (!Take(',')) return false;
        }
    }

    bool Array(JsonValue& out, int depth) {
        out.kind = JsonValue::Kind::Array;
        ++i_;
        if (Take(']')) return true;
        for (;;) {
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            if (Take(']')) return true;
            if (!Take(',')) return false;
        }
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    bool Number(std::string& out) {
        const size_t start = i_;
        if (i_ < t_.size() && t_[i_] == '-') ++i_;
        if (i_ < t_.size() && t_[i_] == '0') {
            ++i_;
        } else if (!Digits()) {
            return false;
        }
        if (i_ < t_.size() && t_[i_] == '.') {
            ++i_;
            if (!Digits()) return false;
        }
        if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
            ++i_;
            if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) ++i_;
            if (!Digits()) return false;
        }
        out.assign(t_.substr(start, i_ - start));
        return true;
    }
    bool Digits() {
        const size_t start = i_;
        while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
        return i_ > start;
    }

    bool Hex4(uint32_t& value) {
        if (t_.size() - i_ < 4) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = t_[i_++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    }

    // Runs of plain bytes go through FromUtf8 whole, so a character split over bytes stays one;
    // escapes are UTF-16 units already.
    bool String(std::wstring& out) {
        out.clear();
        ++i_;
        size_t run = i_;
        for (;;) {
            if (i_ >= t_.size()) return false;
            const char c = t_[i_];
            if (c != '"' && c != '\\') {
                ++i_;
                continue;
            }
            out += FromUtf8(t_.substr(run, i_ - run));
            ++i_;
            if (c == '"') return true;
            if (i_ >= t_.size()) return false;
            const char e = t_[i_++];
            switch (e) {
            case '"': out += L'"'; break;
            case '/': out += L'/'; break;
            case '\\': out += L'\\'; break;
            case 'n': out += L'\n'; break;
            case 'r': out += L'\r'; break;
            case 't': out += L'\t'; break;
            case 'b': out += L'\b'; break;
            case 'f': out += L'\f'; break;
            case 'u': {
                uint32_t unit = 0;
                if (!Hex4(unit)) return false;
                if (unit >= 0xD800 && unit <= 0xDBFF && t_.substr(i_, 2) == "\\u") {
                    const size_t mark = i_;
                    i_ += 2;
                    uint32_t low = 0;
                    if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
                        // One character: a pair of units where wchar_t is UTF-16 (Windows), one
                        // code point where it is wider, as FromUtf8 gives it there.
                        if constexpr (sizeof(wchar_t) == 2) {
                            out += static_cast<wchar_t>(unit);
                            out += static_cast<wchar_t>(low);
                        } else {
                            out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                        }
                        break;
                    }
                    i_ = mark;
                }
                out += unit >= 0xD800 && unit <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(unit);
                break;
            }
            default: return false;
            }
            run = i_;
        }
    }

    std::string_view t_;
    size_t i_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Member(std::string_view key) const {
    if (kind != Kind::Object) return nullptr;
    for (auto it = members.rbegin(); it != members.rend(); ++it) {
        if (it->key == key) return &it->value;
    }
    return nullptr;
}

std::optional<std::wstring> JsonValue::StringMember(std::string_view key) const {
    const JsonValue* member = Member(key);
    if (member == nullptr || member->kind != Kind::String) return std::nullopt;
    return member->text;
}

bool JsonValue::WholeNumber(uint64_t& value) const {
    if (kind != Kind::Number || Negative() || number.find_first_of("eE") != std::string::npos) return false;
    uint64_t whole = 0;
    for (const char c : number) {
        if (c == '.') break;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (whole > (UINT64_MAX - digit) / 10) return false;
        whole = whole * 10 + digit;
    }
    value = whole;
    return true;
}

std::optional<JsonValue> ParseJson(std::string_view document) {
    Reader reader(document);
    JsonValue value;
    if (!reader.Value(value, 0) || !reader.AtEnd()) return std::nullopt;
    return value;
}
