#pragma once
// GPU Clean's and Afterburner's downloads: the HTTPS client under the vendor host table's policy
// for the kind of request, with the vendor-facing texts of its failures, and the driver folder
// the downloads go to.
#include <atomic>
#include <cstdint>
#include <string>

#include "driver/vendor_hosts.h"
#include "foundation/https_fetch.h"

bool VendorFetch(const VendorHosts& hosts, int kind, const std::wstring& method, const std::wstring& url, bool browserHeaders,
                 uint64_t byteLimit, const ChunkSink& sink, FetchResult& result, std::wstring& error,
                 const std::atomic<bool>& stop);

// The words for the user when a vendor request failed.
std::wstring VendorFetchError(const FetchResult& result);

// ProgramData\Quorvantis\drivers, from the system's known folder.
std::wstring DriverFolder();
