#pragma once
// The one way GPU Clean and Afterburner take files from the internet: HTTPS only, only from the
// hosts allowed for the purpose of the request, checked again after redirects, size-capped before
// anything is written. Also the driver work folder, SHA-256 and the installer runner.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "driver/vendor_hosts.h"

struct FetchResult {
    uint32_t status = 0;
    std::wstring finalUrl;
    uint64_t contentLength = 0;  // 0 when absent
    std::string body;            // only without a sink
    bool stopped = false;
};

// (chunk, length, received so far, content length or 0); false refuses the chunk.
using ChunkSink = std::function<bool(const uint8_t* chunk, size_t length, uint64_t received, uint64_t contentLength)>;

bool VendorFetch(const VendorHosts& hosts, int kind, const std::wstring& method, const std::wstring& url, bool browserHeaders,
                 uint64_t byteLimit, const ChunkSink& sink, FetchResult& result, std::wstring& error,
                 const std::atomic<bool>& stop);

// ProgramData\Quorvantis\drivers, from the system's known folder.
std::wstring DriverFolder();
// Creates the folder and each missing parent; the driver folder itself gets the administrators-only
// protection of the data folder. False when it cannot be created or made safe.
bool EnsureFolder(const std::wstring& path);
// Deletes everything below the path and the path itself; failures are ignored. Never follows a
// junction or link out of the tree.
void RemoveTree(const std::wstring& path);

class Sha256Hasher {
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;
    bool Open() const { return hash_ != nullptr; }
    void Add(const uint8_t* bytes, size_t length);
    // 64 lower-case hex digits; empty when the hasher never opened.
    std::wstring Finish();

private:
    void* algorithm_ = nullptr;
    void* hash_ = nullptr;
    std::string object_;
};

struct InstallerRunResult {
    bool started = false;
    bool timedOut = false;
    uint32_t exitCode = 0xFFFFFFFF;
    uint32_t startError = 0;  // the system's error when the process could not be created
};
// A program path or working folder with a double quote is refused (not started).
InstallerRunResult RunInstaller(const std::wstring& program, const std::wstring& commandLine, const std::wstring& workingFolder,
                                uint32_t timeLimitMs, bool killOnTimeout, bool noConsoleWindow);

// Whether the file begins with the two bytes "MZ" of a Windows executable.
bool IsExecutableFile(const std::wstring& path);
