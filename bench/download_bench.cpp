// A 300 MB package body from the local HTTPS vendor server, written and hashed through the same
// chunk writer as the driver download, with the process's peak memory before and after.
#include "bench/download_bench.h"

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include "driver/vendor_fetch.h"
#include "foundation/chunk_writer.h"
#include "foundation/sha256.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "support/test_support.h"
#include "support/vendor_test_server.h"

namespace {

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

}  // namespace

// The parts on their own: the hash over memory, and the fetch with a sink that only counts.
void PartFigures(VendorTestServer& server, uint64_t body) {
    std::vector<uint8_t> block(65536, 0x5A);
    Sha256Hasher hasher;
    auto start = std::chrono::steady_clock::now();
    for (uint64_t done = 0; done < body; done += block.size()) hasher.Add(block.data(), block.size());
    hasher.Finish();
    const double hashSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    FetchResult result;
    std::wstring error;
    std::atomic<bool> stop{false};
    start = std::chrono::steady_clock::now();
    VendorFetch(server.Hosts(), NvidiaDownload, L"GET", server.Url(FormatText(L"/bytes/%llu", static_cast<unsigned long long>(body))),
                false, 0xFC000000ull, [](const uint8_t*, size_t, uint64_t, uint64_t) { return true; }, result, error, stop);
    const double fetchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mb = static_cast<double>(body) / 1048576.0;
    std::printf("download parts: SHA-256 alone %.0f MB/s, HTTPS fetch alone %.0f MB/s\n", mb / hashSeconds, mb / fetchSeconds);
}

void DownloadFigures() {
    VendorTestServer& server = VendorTestServer::Get();
    if (!server.Ready()) {
        std::printf("download: %s\n", ToUtf8(server.Problem()).c_str());
        return;
    }
    constexpr uint64_t kBody = 300ull << 20;
    TempFolder folder;
    const std::wstring path = folder.File(L"package.partial");
    UniqueKernelHandle file =
        AdoptFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Sha256Hasher hasher;
    const size_t peakBefore = PeakWorkingSet();
    FetchResult result;
    std::wstring error;
    std::atomic<bool> stop{false};
    const auto start = std::chrono::steady_clock::now();
    ChunkWriter writer(file.get(), &hasher);
    const bool ok = VendorFetch(
        server.Hosts(), NvidiaDownload, L"GET", server.Url(FormatText(L"/bytes/%llu", static_cast<unsigned long long>(kBody))), false,
        0xFC000000ull,
        [&](const uint8_t* chunk, size_t length, uint64_t, uint64_t) { return writer.Push(chunk, length); }, result, error, stop);
    writer.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::wstring digest = hasher.Finish();
    file.reset();
    if (!ok) {
        std::printf("download: failed: %s\n", ToUtf8(error).c_str());
        return;
    }
    std::printf("download: %.0f MB over HTTPS, written and hashed, in %.2f s = %.0f MB/s; peak working set %.1f MB before, %.1f MB "
                "after (sha256 %.12s...)\n",
                static_cast<double>(result.contentLength) / 1048576.0, seconds,
                static_cast<double>(result.contentLength) / 1048576.0 / seconds, static_cast<double>(peakBefore) / 1048576.0,
                static_cast<double>(PeakWorkingSet()) / 1048576.0, ToUtf8(digest).c_str());
    PartFigures(server, kBody);
}
