#include "foundation/json.h"

#include <charconv>
#include <cmath>

#include "foundation/text.h"

Json Json::Object() {
    Json value;
    value.kind_ = Kind::Object;
    return value;
}

Json Json::Array() {
    Json value;
    value.kind_ = Kind::Array;
    return value;
}

Json& Json::Set(std::string_view key, Json value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(std::string(key), std::move(value));
    return *this;
}

Json& Json::Push(Json value) {
    members_.emplace_back(std::string(), std::move(value));
    return *this;
}

std::string JsonQuoted(std::wstring_view text) {
    std::string out = "\"";
    for (const char c : ToUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[u >> 4];
                out += kHex[u & 15];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void Json::Write(std::string& out, int depth) const {
    switch (kind_) {
    case Kind::Null: out += "null"; return;
    case Kind::Bool: out += bool_ ? "true" : "false"; return;
    case Kind::Integer: out += std::to_string(integer_); return;
    case Kind::Number: {
        // JSON has no NaN or infinity: a figure that could not be worked out is null.
        if (!std::isfinite(number_)) {
            out += "null";
            return;
        }
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof(buffer), number_, std::chars_format::general, 10);
        out.append(buffer, result.ptr);
        return;
    }
    case Kind::String: out += JsonQuoted(text_); return;
    case Kind::Object:
    case Kind::Array: {
        const bool object = kind_ == Kind::Object;
        if (members_.empty()) {
            out += object ? "{}" : "[]";
            return;
        }
        out += object ? "{\n" : "[\n";
        const std::string indent(static_cast<size_t>(depth + 1) * 2, ' ');
        for (size_t i = 0; i < members_.size(); ++i) {
            out += indent;
            if (object) {
                out += JsonQuoted(FromUtf8(members_[i].first));
                out += ": ";
            }
            members_[i].second.Write(out, depth + 1);
            out += i + 1 < members_.size() ? ",\n" : "\n";
        }
        out += std::string(static_cast<size_t>(depth) * 2, ' ');
        out += object ? "}" : "]";
        return;
    }
    }
}

std::string Json::Text() const {
    std::string out;
    Write(out, 0);
    return out + "\n";
}
