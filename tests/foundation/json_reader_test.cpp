// The one JSON reader: what the writer writes reads back as the text it was made from; escapes
// from other writers decode; anything that is not exactly one JSON value is refused.
#include "foundation/json_reader.h"

#include <gtest/gtest.h>

#include "foundation/json.h"
#include "foundation/text.h"

namespace {

const std::wstring kLoneHigh(1, wchar_t(0xD800));

}  // namespace

TEST(JsonReader, WhatTheWriterWritesReadsBackAsItsText) {
    const std::vector<std::wstring> texts{L"",
                                          L"plain",
                                          L"quote \" backslash \\ slash /",
                                          L"controls \n\r\t\b\f \x01 \x1f end",
                                          L"\u00e9 \u2192 \U0001F3AE",
                                          kLoneHigh + L"x" + wchar_t(0xDC00)};
    Json list = Json::Array();
    for (const std::wstring& text : texts) list.Push(text);
    Json document = Json::Object();
    document.Set("texts", std::move(list)).Set("on", true).Set("off", false).Set("none", nullptr).Set("count", 12).Set("mean", -0.125);
    const std::optional<JsonValue> read = ParseJson(document.Text());
    ASSERT_TRUE(read.has_value()) << document.Text();
    const JsonValue* texts_read = read->Member("texts");
    ASSERT_NE(texts_read, nullptr);
    ASSERT_EQ(texts_read->items.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        // A lone surrogate cannot be written as UTF-8: it is U+FFFD on both sides.
        EXPECT_EQ(texts_read->items[i].text, FromUtf8(ToUtf8(texts[i]))) << i;
    }
    EXPECT_EQ(texts_read->items[5].text, L"\uFFFDx\uFFFD");
    EXPECT_TRUE(read->Member("on")->boolean);
    EXPECT_EQ(read->Member("off")->kind, JsonValue::Kind::Bool);
    EXPECT_EQ(read->Member("none")->kind, JsonValue::Kind::Null);
    uint64_t count = 0;
    ASSERT_TRUE(read->Member("count")->WholeNumber(count));
    EXPECT_EQ(count, 12u);
    EXPECT_TRUE(read->Member("mean")->Negative());
    EXPECT_FALSE(read->Member("mean")->WholeNumber(count));
}

TEST(JsonReader, OtherWritersEscapesDecodeAndALaterKeyWins) {
    const std::optional<JsonValue> read = ParseJson(
        R"( {"a":"caf\u00E9 \ud83c\udfae \/ \ud800x \udc00","a2":"\u0041\"","k":1,"k":"two","big":18446744073709551615,
            "over":18446744073709551616,"exp":1e3,"frac":12.9} )");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->Member("a")->text, L"caf\u00e9 \U0001F3AE / \uFFFDx \uFFFD");
    EXPECT_EQ(read->Member("a2")->text, L"A\"");
    EXPECT_EQ(read->StringMember("k").value_or(L"?"), L"two");
    EXPECT_FALSE(read->StringMember("missing").has_value());
    uint64_t n = 0;
    ASSERT_TRUE(read->Member("big")->WholeNumber(n));
    EXPECT_EQ(n, UINT64_MAX);
    EXPECT_FALSE(read->Member("over")->WholeNumber(n));
    EXPECT_FALSE(read->Member("exp")->WholeNumber(n));
    ASSERT_TRUE(read->Member("frac")->WholeNumber(n));
    EXPECT_EQ(n, 12u);
    // Raw UTF-8 in a string decodes as one character; a malformed byte as U+FFFD.
    EXPECT_EQ(ParseJson("\"\xC3\xA9\xFFz\"")->text, L"\u00e9\uFFFDz");
}

TEST(JsonReader, AnythingButOneWholeValueIsRefused) {
    for (const char* bad : {"", " ", "{", "}", "[1,]", "[1 2]", R"({"a" 1})", R"({"a":1,})", R"({,})", R"({1:2})", "01", "1.",
                            "-", "1e", "1e+", ".5", "+1", R"("\x")", R"("\u12")", R"("\u12g4")", R"("open)", "tru", "nul",
                            "[1] x", "{} {}", "\"a\\"}) {
        EXPECT_FALSE(ParseJson(bad).has_value()) << bad;
    }
    for (const char* good : {"0", "-0.5e-3", "true", "null", "[]", "{}", R"([{"a":[[]]}])", " \"\" "}) {
        EXPECT_TRUE(ParseJson(good).has_value()) << good;
    }
    // Nested as deep as allowed reads; one deeper is refused instead of recursing on.
    const std::string allowed = std::string(kJsonMaxDepth + 1, '[') + std::string(kJsonMaxDepth + 1, ']');
    EXPECT_TRUE(ParseJson(allowed).has_value());
    EXPECT_FALSE(ParseJson("[" + allowed + "]").has_value());
}
