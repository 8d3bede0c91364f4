#pragma once
// The documents --json prints: a small value tree written as UTF-8 JSON with two-space
// indentation. Keys keep the order they were set in, so a document reads like the text it
// stands for, and a key set again replaces its value in place.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class Json {
public:
    Json() = default;  // null
    Json(std::nullptr_t) {}
    Json(bool value) : kind_(Kind::Bool), bool_(value) {}
    Json(int value) : kind_(Kind::Integer), integer_(value) {}
    Json(unsigned value) : kind_(Kind::Integer), integer_(value) {}
    Json(long value) : kind_(Kind::Integer), integer_(value) {}
    Json(unsigned long value) : kind_(Kind::Integer), integer_(static_cast<int64_t>(value)) {}
    Json(long long value) : kind_(Kind::Integer), integer_(value) {}
    Json(unsigned long long value) : kind_(Kind::Integer), integer_(static_cast<int64_t>(value)) {}
    Json(double value) : kind_(Kind::Number), number_(value) {}
    Json(std::wstring_view text) : kind_(Kind::String), text_(text) {}
    Json(const std::wstring& text) : kind_(Kind::String), text_(text) {}
    Json(const wchar_t* text) : kind_(Kind::String), text_(text) {}

    static Json Object();
    static Json Array();

    // On an object: sets the key (replacing its value where it is). Returns *this.
    Json& Set(std::string_view key, Json value);
    // On an array: appends. Returns *this.
    Json& Push(Json value);
    size_t Size() const { return members_.size(); }

    // The whole document, ending with a line feed.
    std::string Text() const;

private:
    enum class Kind : unsigned char { Null, Bool, Integer, Number, String, Object, Array };
    void Write(std::string& out, int depth) const;

    Kind kind_ = Kind::Null;
    bool bool_ = false;
    int64_t integer_ = 0;
    double number_ = 0;
    std::wstring text_;
    std::vector<std::pair<std::string, Json>> members_;  // arrays leave the keys empty
};

// The text of a string as JSON writes it, quotes included: control characters, quotes and
// backslashes escaped; everything else as UTF-8.
std::string JsonQuoted(std::wstring_view text);
