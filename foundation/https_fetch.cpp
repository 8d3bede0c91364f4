#include "foundation/https_fetch.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "foundation/winhttp_util.h"

namespace {

constexpr size_t kChunk = 65536;

bool Fail(FetchResult& result, FetchFailure failure, uint32_t systemError = 0) {
    result.failure = failure;
    result.systemError = systemError;
    return false;
}

// The answer to one request, with any redirect still to follow.
bool Send(HINTERNET session, const UrlParts& parts, const FetchRequest& request, UniqueInternet& connection,
          UniqueInternet& handle, FetchResult& result) {
    handle.reset();
    connection.reset(WinHttpConnect(session, parts.host.c_str(), parts.port != 0 ? parts.port : INTERNET_DEFAULT_HTTPS_PORT, 0));
    const std::wstring object = parts.path + parts.query;
    if (connection) {
        handle.reset(WinHttpOpenRequest(connection.get(), request.method.c_str(), object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    }
    if (!handle) return Fail(result, FetchFailure::NoRequest, GetLastError());
    DisableRedirects(handle.get());
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof(decompression));
    if (!request.headers.empty()) {
        WinHttpAddRequestHeaders(handle.get(), request.headers.c_str(), static_cast<DWORD>(-1L),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    void* body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    const DWORD length = static_cast<DWORD>(request.body.size());
    if (!WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length, length, 0) ||
        !WinHttpReceiveResponse(handle.get(), nullptr)) {
        return Fail(result, FetchFailure::NoAnswer, GetLastError());
    }
    return true;
}

}  // namespace

bool FetchAllowed(const FetchPolicy& policy, std::wstring_view url, UrlParts& parts) {
    return SplitUrl(url, parts) && parts.scheme == L"https" && HostMatches(parts.host, policy.hosts, policy.subdomains) &&
           (!policy.addressAllowed || policy.addressAllowed(parts));
}

bool HttpsFetch(const FetchPolicy& policy, const FetchRequest& request, const ChunkSink& sink, FetchResult& result,
                const std::atomic<bool>& stop) {
    result = FetchResult{};
    if (stop.load()) return Fail(result, FetchFailure::Stopped);
    UrlParts parts;
    if (!SplitUrl(request.url, parts) || parts.scheme != L"https") return Fail(result, FetchFailure::NotHttps);
    if (!FetchAllowed(policy, request.url, parts)) return Fail(result, FetchFailure::HostRefused);

    UniqueInternet session = OpenSession(request.userAgent.c_str());
    if (!session) return Fail(result, FetchFailure::NoSession, GetLastError());
    const FetchTimeouts& t = request.timeouts;
    WinHttpSetTimeouts(session.get(), t.resolveMs, t.connectMs, t.sendMs, t.receiveMs);

    UniqueInternet connection, handle;
    std::wstring current = request.url;
    for (int hop = 0;; ++hop) {
        if (!Send(session.get(), parts, request, connection, handle, result)) return false;
        result.status = ResponseStatus(handle.get());
        result.finalUrl = current;
        if (!IsRedirectStatus(result.status)) break;
        std::wstring location = ResponseHeader(handle.get(), WINHTTP_QUERY_LOCATION);
        // A path alone stays on the host that answered.
        if (!location.empty() && location[0] == L'/' && (location.size() < 2 || location[1] != L'/')) {
            location = L"https://" + Authority(parts) + location;
        }
        if (hop >= request.redirects || !FetchAllowed(policy, location, parts)) {
            result.finalUrl = location;
            return Fail(result, FetchFailure::Redirected);
        }
        current = location;
    }
    // A compressed body arrives unpacked, so the length the server stated is not what is read.
    const std::wstring encoding = ResponseHeader(handle.get(), WINHTTP_QUERY_CONTENT_ENCODING);
    if (encoding.empty() || _wcsicmp(encoding.c_str(), L"identity") == 0) {
        result.contentLength = DecimalOrZero(ResponseHeader(handle.get(), WINHTTP_QUERY_CONTENT_LENGTH));
    }
    if (result.status != 200) return Fail(result, FetchFailure::Status);
    if (_wcsicmp(request.method.c_str(), L"HEAD") == 0) return true;
    if (result.contentLength > policy.byteLimit) return Fail(result, FetchFailure::TooLarge);
    if (stop.load()) return Fail(result, FetchFailure::Stopped);

    std::vector<uint8_t> buffer(kChunk);
    uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
            return Fail(result, FetchFailure::ReadFailed, GetLastError());
        }
        if (read == 0) break;
        total += read;
        if (total > policy.byteLimit) return Fail(result, FetchFailure::TooLarge);
        if (sink) {
            if (!sink(buffer.data(), read, total, result.contentLength)) {
                return Fail(result, stop.load() ? FetchFailure::Stopped : FetchFailure::SinkRefused);
            }
        } else {
            result.body.append(reinterpret_cast<const char*>(buffer.data()), read);
        }
        if (stop.load()) return Fail(result, FetchFailure::Stopped);
    }
    if (result.contentLength != 0 && result.contentLength != total) return Fail(result, FetchFailure::EndedEarly);
    result.contentLength = total;
    return true;
}
