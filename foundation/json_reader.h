#pragma once
// The one JSON reader, beside the writer (json.h): a whole document into a value tree, for what
// the program reads from outside (the update list, a vendor's answer). Strings come back decoded:
// every escape, a surrogate pair as one character, a lone surrogate as U+FFFD, and malformed UTF-8
// as FromUtf8 decodes it, so a string the writer wrote reads back as the text it was made from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JsonMember;

struct JsonValue {
    enum class Kind : unsigned char { Null, Bool, Number, String, Object, Array };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string number;  // as written, already checked against JSON's number grammar
    std::wstring text;
    std::vector<JsonMember> members;  // an object's, in order
    std::vector<JsonValue> items;                            // an array's

    // The member with that key (the last one, where a key repeats, as a later one overrides); null
    // when this is no object or has no such member.
    const JsonValue* Member(std::string_view key) const;
    // A string member's text, or nothing.
    std::optional<std::wstring> StringMember(std::string_view key) const;
    // The whole part of a number that is not negative, without exponent, and fits 64 bits.
    bool WholeNumber(uint64_t& value) const;
    bool Negative() const { return kind == Kind::Number && !number.empty() && number[0] == '-'; }
};

struct JsonMember {
    std::string key;  // UTF-8
    JsonValue value;
};

// Nested at most this deep; deeper documents are refused rather than read on a deep stack.
constexpr int kJsonMaxDepth = 64;

// The document, or nothing when it is not exactly one JSON value (surrounding blanks allowed).
std::optional<JsonValue> ParseJson(std::string_view document);
