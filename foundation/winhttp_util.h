#pragma once
// What both HTTPS clients (vendor downloads and the self-update) share over WinHTTP.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "foundation/unique_handle.h"

inline void CloseInternet(HINTERNET h) { WinHttpCloseHandle(h); }
using UniqueInternet = UniqueHandle<HINTERNET, CloseInternet>;

// A response header as text; empty when absent.
inline std::wstring ResponseHeader(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size, WINHTTP_NO_HEADER_INDEX)) return {};
    value.resize(size / sizeof(wchar_t));
    return value;
}

// Decimal digits only; anything else (or an overflow) reads as absent.
inline uint64_t DecimalOrZero(const std::wstring& text) {
    if (text.empty() || text.size() > 19) return 0;
    uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    return value;
}

inline DWORD ResponseStatus(HINTERNET request) {
    DWORD status = 0, size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                        WINHTTP_NO_HEADER_INDEX);
    return status;
}

inline bool IsRedirectStatus(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// Redirects are followed by the caller one hop at a time, so each address is checked first.
inline void DisableRedirects(HINTERNET request) {
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects))) {
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never));
    }
}

// The session with automatic proxy detection (the configured proxy on systems without it).
inline UniqueInternet OpenSession(const wchar_t* userAgent) {
    UniqueInternet session(
        WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) session.reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    return session;
}
