#pragma once
// The self-update: the publisher's signed update list, the verified download and the in-place
// replacement of the running and the installed copies.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/app_update.h"
#include "update/update_text.h"

struct VendorHosts;

// Where updates come from and who signs their lists. The product's is fixed; tests pass theirs.
struct UpdateSource {
    const VendorHosts* hosts = nullptr;
    std::vector<uint8_t> publicKey;  // ECDSA P-256: X then Y, 32 bytes each
};
const UpdateSource& ProductUpdateSource();

using UpdateProgress = std::function<void(uint64_t expected, uint64_t received)>;

bool FetchHttps(const UpdateSource& source, const std::wstring& address, const std::wstring& userAgent, bool fileMode,
                uint64_t maximum, uint64_t expected, const std::wstring& targetFile, std::string* memory,
                const std::atomic<bool>& cancel, const UpdateProgress& progress, std::wstring& sha256, std::wstring& error);

// True when a newer, correctly signed version is published.
bool CheckForAppUpdate(const UpdateSource& source, const std::wstring& current, AppUpdate& update, const std::atomic<bool>& cancel,
                       std::wstring& error);
// The signature over the list's version, url, sha256 and size.
bool VerifyUpdateSignature(const UpdateSource& source, const AppUpdate& update, const std::wstring& signatureBase64,
                           std::wstring& error);
bool DownloadAndVerifyUpdate(const UpdateSource& source, const AppUpdate& update, const std::wstring& file,
                             const std::function<void(const std::wstring&)>& status, const std::atomic<bool>& cancel,
                             std::wstring& error);
bool CheckX64Executable(const std::wstring& path, std::wstring& error);
bool ReadFileVersion(const std::wstring& path, Version& version, std::wstring& error);
bool ReplaceExecutable(const std::wstring& target, const std::wstring& newFile, std::wstring& error);
// 0 updated, 1 failed or cancelled.
int ApplyAppUpdate(const UpdateSource& source, const AppUpdate& update, const std::function<void(const std::wstring&)>& status,
                   const std::atomic<bool>& cancel, std::wstring& error);
void RemoveOldCopies();
bool RelaunchSelf();
