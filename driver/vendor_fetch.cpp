#include "driver/vendor_fetch.h"

#include "foundation/system.h"
#include "foundation/text.h"

bool VendorFetch(const VendorHosts& hosts, int kind, const std::wstring& method, const std::wstring& url, bool browserHeaders,
                 uint64_t byteLimit, const ChunkSink& sink, FetchResult& result, std::wstring& error,
                 const std::atomic<bool>& stop) {
    FetchPolicy policy;
    if (kind >= 0 && kind < kVendorHostKinds) policy.hosts = hosts.allowed[static_cast<size_t>(kind)];
    policy.subdomains = kind == NvidiaDownload;
    policy.byteLimit = byteLimit;
    FetchRequest request;
    request.method = method;
    request.url = url;
    request.userAgent = L"NvBackend/36.0.0.0";
    if (browserHeaders) {
        request.headers = L"User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\n";
        if (kind == AmdDownload) request.headers += L"Referer: https://" + hosts.amdSupport + L"/en/support/download/drivers.html\r\n";
    }
    const bool fetched = HttpsFetch(policy, request, sink, result, stop);
    error = fetched ? std::wstring() : VendorFetchError(result);
    return fetched;
}

std::wstring VendorFetchError(const FetchResult& result) {
    const unsigned long code = result.systemError;
    switch (result.failure) {
    case FetchFailure::None: return {};
    case FetchFailure::NotHttps: return L"The address is not an https vendor URL.";
    case FetchFailure::HostRefused: return L"The address is not on the vendor site.";
    case FetchFailure::NoSession: return FormatText(L"Could not open the network (%lu).", code);
    case FetchFailure::NoRequest: return FormatText(L"Could not start the request (%lu).", code);
    case FetchFailure::NoAnswer: return FormatText(L"The vendor site did not answer (%lu).", code);
    case FetchFailure::Redirected: return L"The download was redirected away from the vendor site.";
    case FetchFailure::Status: return FormatText(L"The vendor site returned status %lu.", static_cast<unsigned long>(result.status));
    case FetchFailure::ReadFailed: return FormatText(L"The download stopped early (%lu).", code);
    case FetchFailure::TooLarge: return L"The download is larger than a display-driver package should be.";
    case FetchFailure::SinkRefused: return L"Could not save the download.";
    case FetchFailure::EndedEarly: return L"The download ended early.";
    case FetchFailure::Stopped: return L"Stopped.";
    }
    return {};
}

std::wstring DriverFolder() { return DataDirectory() + L"\\drivers"; }
