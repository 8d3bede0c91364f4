#include "foundation/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(FormatText, FormatsWideArgumentsAndNumbers) {
    EXPECT_EQ(FormatText(L"Requested %lu is below the kernel fastest %lu; clamping.", 4000ul, 5000ul),
              L"Requested 4000 is below the kernel fastest 5000; clamping.");
    EXPECT_EQ(FormatText(L"%ls \u2192 %.4f ms", L"caf\u00E9", 5070 / 10000.0), L"caf\u00E9 \u2192 0.5070 ms");
}

TEST(FormatText, CutsAtThe1023rdCharacterInsteadOfFailing) {
    const std::wstring exact(1023, L'x');
    EXPECT_EQ(FormatText(L"%ls", exact.c_str()), exact);

    const std::wstring longer(1024, L'y');
    EXPECT_EQ(FormatText(L"%ls", longer.c_str()), std::wstring(1023, L'y'));

    const std::wstring huge(5000, L'z');
    const std::wstring text = FormatText(L"Unknown argument: %ls (try --help)", huge.c_str());
    ASSERT_EQ(text.size(), 1023u);
    EXPECT_EQ(text.substr(0, 18), L"Unknown argument: ");
}

TEST(Utf8, EncodesTheProgramsNonAsciiCharacters) {
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToUtf8(L"\u00B7 \u2192 \u2014"), "\xC2\xB7 \xE2\x86\x92 \xE2\x80\x94");
    EXPECT_EQ(ToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");  // a surrogate pair becomes one 4-byte sequence
    EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0xD800)) + L"a"), "\xEF\xBF\xBD" "a");
}

TEST(Utf8, DecodesAndReplacesMalformedBytes) {
    EXPECT_EQ(FromUtf8("\xC2\xB7 \xE2\x86\x92 \xF0\x9F\x98\x80"), L"\u00B7 \u2192 \U0001F600");
    EXPECT_EQ(FromUtf8("a\xFFz"), L"a\uFFFDz");
    EXPECT_EQ(FromUtf8("\xE2\x86"), L"\uFFFD\uFFFD");  // cut short at the end of the input
    EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong "/"
}

TEST(FormatMinSec, RoundsHalfUpToWholeSeconds) {
    const struct {
        double seconds;
        const wchar_t* text;
    } cases[] = {{0, L"0:00"},     {0.4, L"0:00"},       {0.5, L"0:01"},       {59.6, L"1:00"},
                 {125, L"2:05"},   {3599.5, L"60:00"},   {12.19245, L"0:12"},  {35.72765, L"0:36"},
                 {202.10375, L"3:22"}};
    for (const auto& c : cases) EXPECT_EQ(FormatMinSec(c.seconds), c.text) << c.seconds;
}

TEST(LogLineBytes, TimestampTwoSpacesUtf8TextCrLf) {
    const LocalStamp stamp{2026, 3, 4, 5, 6, 7};
    EXPECT_EQ(BuildLogLine(stamp, L"h\u00E9llo \u2192 ok"), "2026-03-04 05:06:07  h\xC3\xA9llo \xE2\x86\x92 ok\r\n");
    EXPECT_EQ(BuildLogLine(stamp, L"ERROR: x"), "2026-03-04 05:06:07  ERROR: x\r\n");
    EXPECT_EQ(BuildLogLine(stamp, L"\nInstalled.\r\nok\nend"), "2026-03-04 05:06:07  \r\nInstalled.\r\nok\r\nend\r\n");
    // Text handed to the log directly is never cut.
    const std::wstring big(3000, L'q');
    EXPECT_EQ(BuildLogLine(stamp, big).size(), 21u + 3000u + 2u);
}

TEST(LogLineBytes, HealthLineIsCutTo767CharactersLosingItsLineEnd) {
    const LocalStamp stamp{2026, 12, 31, 23, 59, 58};
    EXPECT_EQ(BuildHealthLine(stamp, L"3 passing \u00B7 1 needs attention"),
              "2026-12-31 23:59:58  health  3 passing \xC2\xB7 1 needs attention\r\n");
    const std::string cut = BuildHealthLine(stamp, std::wstring(2000, L'h'));
    ASSERT_EQ(cut.size(), 767u);
    EXPECT_EQ(cut.back(), 'h');
}

TEST(ProgressLine, PadsOrCutsToExactly78Characters) {
    EXPECT_EQ(ProgressLineText(L"abc"), L"\rabc" + std::wstring(75, L' '));
    const std::wstring hundred(100, L'p');
    EXPECT_EQ(ProgressLineText(hundred), L"\r" + std::wstring(78, L'p'));
    EXPECT_EQ(ProgressClearText(), L"\r" + std::wstring(78, L' ') + L"\r");
}
