#pragma once
// The one way the program takes anything from the internet: HTTPS only, only from the hosts a
// policy names, every redirect checked against the same policy before it is contacted, and no
// more bytes than the policy allows. The vendor downloads and the self-update are two policies
// of this one client; each turns the failure kinds below into its own words.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/url.h"

struct FetchPolicy {
    std::vector<std::wstring> hosts;  // lower-case whole names
    bool subdomains = false;          // any subdomain of those names as well
    // A further rule every address must meet, redirects included (null: any path).
    std::function<bool(const UrlParts&)> addressAllowed;
    uint64_t byteLimit = 0;  // the most the body may hold
};

struct FetchTimeouts {
    int resolveMs = 20000, connectMs = 20000, sendMs = 60000, receiveMs = 30000;
};

struct FetchRequest {
    std::wstring method = L"GET";
    std::wstring url;
    std::wstring userAgent;
    std::wstring headers;  // extra request headers, each ending in CR LF
    std::string body;      // sent as is (a POST)
    int redirects = 10;    // hops followed at most; 0 refuses every redirect
    FetchTimeouts timeouts;
};

enum class FetchFailure {
    None,
    NotHttps,       // the address is not https, or not an address at all
    HostRefused,    // the policy does not allow the address
    NoSession,      // WinHTTP could not start (systemError)
    NoRequest,      // the request could not be made (systemError)
    NoAnswer,       // nothing came back; systemError tells why (12175 or 12157: the certificate)
    Redirected,     // a redirect away from what the policy allows, or too many
    Status,         // an answer other than 200 (status)
    ReadFailed,     // the body stopped early (systemError)
    TooLarge,       // more than the policy's byte limit
    SinkRefused,    // the sink did not take a chunk
    EndedEarly,     // fewer bytes than the stated length
    Stopped,        // the stop flag was set
};

struct FetchResult {
    uint32_t status = 0;
    std::wstring finalUrl;        // the address that answered (or the refused redirect)
    uint64_t contentLength = 0;   // as stated (0 when absent or compressed); the body's length once read
    std::string body;             // only without a sink
    FetchFailure failure = FetchFailure::None;
    uint32_t systemError = 0;
    bool stopped() const { return failure == FetchFailure::Stopped; }
    // The server's certificate was refused (WinHTTP's secure failure).
    bool certificateRefused() const { return failure == FetchFailure::NoAnswer && systemError == 12175; }
};

// (chunk, length, received so far, stated length or 0); false refuses the chunk and ends the fetch.
using ChunkSink = std::function<bool(const uint8_t* chunk, size_t length, uint64_t received, uint64_t contentLength)>;

// True when a 200 answer arrived whole (for HEAD, its headers). Redirects are followed one hop at
// a time, so an address the policy refuses is never connected to.
bool HttpsFetch(const FetchPolicy& policy, const FetchRequest& request, const ChunkSink& sink, FetchResult& result,
                const std::atomic<bool>& stop);

// Whether the policy allows the address: https, an allowed host and the further rule.
bool FetchAllowed(const FetchPolicy& policy, std::wstring_view url, UrlParts& parts);
