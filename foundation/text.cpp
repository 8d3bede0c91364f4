#include "foundation/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <type_traits>

namespace {

std::wstring FormatInto(size_t capacity, const wchar_t* format, va_list args) {
    std::wstring buffer(capacity, L'\0');
#ifdef _WIN32
    // _TRUNCATE keeps what fits (capacity - 1 characters) instead of failing the whole message.
    int written = _vsnwprintf_s(buffer.data(), capacity, _TRUNCATE, format, args);
#else
    // The parsers are also built natively for the sanitizers; there the standard call stands in.
    int written = std::vswprintf(buffer.data(), capacity, format, args);
    buffer[capacity - 1] = L'\0';
#endif
    if (written < 0) written = static_cast<int>(std::wcslen(buffer.c_str()));
    buffer.resize(static_cast<size_t>(written));
    return buffer;
}

std::wstring FormatCapped(size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatInto(capacity, format, args);
    va_end(args);
    return text;
}

}  // namespace

std::wstring FormatText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatInto(1024, format, args);
    va_end(args);
    return text;
}

std::string ToUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        // Windows strings are UTF-16; where wchar_t is 32 bits wide (the native build) a unit is a
        // whole code point.
        uint32_t cp = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i]));
        if (cp > 0x10FFFF) cp = 0xFFFD;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
            uint32_t low = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i + 1]));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        // An unpaired surrogate cannot be encoded; Windows writes U+FFFD for it too.
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        size_t extra = 0;
        uint32_t cp = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        bool valid = i + extra < utf8.size();
        for (size_t k = 1; valid && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (c & 0x3F);
        }
        const bool overlong = (extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
        if (!valid || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000 && sizeof(wchar_t) > 2) {
            out += static_cast<wchar_t>(cp);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    }
    return out;
}

std::wstring LowerCase(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

std::wstring FormatMinSec(double seconds) {
    const int whole = static_cast<int>(seconds + 0.5);
    return FormatText(L"%d:%02d", whole / 60, whole % 60);
}

std::string BuildLogLine(const LocalStamp& s, std::wstring_view text) {
    std::wstring stamp = FormatText(L"%04u-%02u-%02u %02u:%02u:%02u", s.year, s.month, s.day, s.hour, s.minute, s.second);
    std::string line = ToUtf8(stamp);
    line += "  ";
    // A message of several lines keeps the file's CR LF line ends throughout.
    const std::string body = ToUtf8(text);
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\n' && (i == 0 || body[i - 1] != '\r')) line += '\r';
        line += body[i];
    }
    line += "\r\n";
    return line;
}

std::string BuildHealthLine(const LocalStamp& s, std::wstring_view text) {
    const std::wstring message(text);
    return ToUtf8(FormatCapped(768, L"%04u-%02u-%02u %02u:%02u:%02u  health  %ls\r\n", s.year, s.month, s.day, s.hour,
                               s.minute, s.second, message.c_str()));
}

std::wstring ProgressLineText(std::wstring_view text) {
    const std::wstring message(text);
    return FormatText(L"\r%-78.78ls", message.c_str());
}

std::wstring ProgressClearText() { return FormatText(L"\r%-78ls\r", L""); }
