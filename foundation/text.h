#pragma once
// Text building blocks shared by every message: the printf-style formatter, UTF-8 conversion
// and the exact byte layouts of log and console lines. Free of Windows calls so they can be
// pinned byte for byte by tests.
#include <string>
#include <string_view>

// Formats with the wide printf rules into 1024 characters; longer results are cut at 1023.
// Wide-string arguments are passed with %ls so the format means the same under every runtime.
std::wstring FormatText(const wchar_t* format, ...);

std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);

// The text with every letter in lower case, for comparisons that ignore case.
std::wstring LowerCase(std::wstring_view text);

// Whole seconds (rounded half up) as "m:ss": 59.6 -> "1:00", 125 -> "2:05".
std::wstring FormatMinSec(double seconds);

struct LocalStamp {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "YYYY-MM-DD hh:mm:ss" + two spaces + text + CR LF, as UTF-8.
std::string BuildLogLine(const LocalStamp& stamp, std::wstring_view text);

// The health log's whole line is cut to 767 characters (losing its CR LF when cut), as UTF-8.
std::string BuildHealthLine(const LocalStamp& stamp, std::wstring_view text);

// Carriage return, then the text padded with spaces or cut to exactly 78 characters.
std::wstring ProgressLineText(std::wstring_view text);
// Blanks the progress row and leaves the cursor at its start.
std::wstring ProgressClearText();
