#include "driver/vendor_fetch.h"

#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "foundation/protected_folder.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/winhttp_util.h"

namespace {

constexpr size_t kChunk = 65536;

bool Fail(std::wstring& error, const std::wstring& text) {
    error = text;
    return false;
}

}  // namespace

bool VendorFetch(const VendorHosts& hosts, int kind, const std::wstring& method, const std::wstring& url, bool browserHeaders,
                 uint64_t byteLimit, const ChunkSink& sink, FetchResult& result, std::wstring& error,
                 const std::atomic<bool>& stop) {
    result = FetchResult{};
    error.clear();
    if (stop.load()) {
        result.stopped = true;
        return Fail(error, L"Stopped.");
    }
    UrlParts parts;
    if (!SplitUrl(url, parts) || parts.scheme != L"https") return Fail(error, L"The address is not an https vendor URL.");
    if (!HostAllowed(hosts, kind, parts.host)) return Fail(error, L"The address is not on the vendor site.");

    UniqueInternet session = OpenSession(L"NvBackend/36.0.0.0");
    if (!session) return Fail(error, FormatText(L"Could not open the network (%lu).", GetLastError()));
    WinHttpSetTimeouts(session.get(), 20000, 20000, 60000, 30000);

    // Redirects are followed here, one hop at a time, so every address is checked before it is
    // connected to; a disallowed one is never contacted at all.
    UniqueInternet connection, request;
    std::wstring current = url;
    DWORD status = 0;
    for (int hop = 0;; ++hop) {
        request.reset();
        connection.reset(
            WinHttpConnect(session.get(), parts.host.c_str(), parts.port != 0 ? parts.port : INTERNET_DEFAULT_HTTPS_PORT, 0));
        const std::wstring object = parts.path + parts.query;
        if (connection) {
            request.reset(WinHttpOpenRequest(connection.get(), method.c_str(), object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
        }
        if (!request) return Fail(error, FormatText(L"Could not start the request (%lu).", GetLastError()));
        DisableRedirects(request.get());
        DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
        WinHttpSetOption(request.get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof(decompression));
        if (browserHeaders) {
            std::wstring headers = L"User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\n";
            if (kind == AmdDownload) headers += L"Referer: https://" + hosts.amdSupport + L"/en/support/download/drivers.html\r\n";
            WinHttpAddRequestHeaders(request.get(), headers.c_str(), static_cast<DWORD>(-1L),
                                     WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
        }
        if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request.get(), nullptr)) {
            return Fail(error, FormatText(L"The vendor site did not answer (%lu).", GetLastError()));
        }
        status = ResponseStatus(request.get());
        result.status = status;
        result.finalUrl = current;
        if (!IsRedirectStatus(status)) break;
        if (hop >= 10) return Fail(error, L"The download was redirected away from the vendor site.");
        std::wstring location = ResponseHeader(request.get(), WINHTTP_QUERY_LOCATION);
        // A path alone stays on the host that answered.
        if (!location.empty() && location[0] == L'/' && (location.size() < 2 || location[1] != L'/')) {
            location = L"https://" + parts.host + (parts.port != 0 ? FormatText(L":%u", static_cast<unsigned>(parts.port)) : L"") +
                       location;
        }
        if (!SplitUrl(location, parts) || parts.scheme != L"https" || !HostAllowed(hosts, kind, parts.host)) {
            result.finalUrl = location;
            return Fail(error, L"The download was redirected away from the vendor site.");
        }
        current = location;
    }
    // A compressed body arrives unpacked, so the length the server stated is not what is read.
    const std::wstring encoding = ResponseHeader(request.get(), WINHTTP_QUERY_CONTENT_ENCODING);
    if (encoding.empty() || _wcsicmp(encoding.c_str(), L"identity") == 0) {
        result.contentLength = DecimalOrZero(ResponseHeader(request.get(), WINHTTP_QUERY_CONTENT_LENGTH));
    }
    if (status != 200) return Fail(error, FormatText(L"The vendor site returned status %lu.", status));
    if (_wcsicmp(method.c_str(), L"HEAD") == 0) return true;
    if (stop.load()) {
        result.stopped = true;
        return Fail(error, L"Stopped.");
    }

    std::vector<uint8_t> buffer(kChunk);
    uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
            return Fail(error, FormatText(L"The download stopped early (%lu).", GetLastError()));
        }
        if (read == 0) break;
        total += read;
        if (total > byteLimit) return Fail(error, L"The download is larger than a display-driver package should be.");
        if (sink) {
            if (!sink(buffer.data(), read, total, result.contentLength)) {
                if (stop.load()) {
                    result.stopped = true;
                    return Fail(error, L"Stopped.");
                }
                return Fail(error, L"Could not save the download.");
            }
        } else {
            result.body.append(reinterpret_cast<const char*>(buffer.data()), read);
        }
        if (stop.load()) {
            result.stopped = true;
            return Fail(error, L"Stopped.");
        }
    }
    if (result.contentLength != 0 && result.contentLength != total) return Fail(error, L"The download ended early.");
    result.contentLength = total;
    return true;
}

std::wstring DriverFolder() { return DataDirectory() + L"\\drivers"; }

bool EnsureFolder(const std::wstring& path) {
    if (path.empty() || path.find(L'"') != std::wstring::npos) return false;
    const std::wstring driverFolder = DriverFolder();
    // Parents first, each in turn; the data and driver folders get their protection on the way.
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        const std::wstring parent = path.substr(0, at);
        if (SamePath(parent, DataDirectory())) {
            if (PrepareDataDirectory() == FolderSafety::Unsafe) return false;
        } else if (SamePath(parent, driverFolder)) {
            if (EnsureProtectedFolder(parent) == FolderSafety::Unsafe) return false;
        } else {
            CreateDirectoryW(parent.c_str(), nullptr);
        }
    }
    if (SamePath(path, DataDirectory())) return PrepareDataDirectory() != FolderSafety::Unsafe;
    if (SamePath(path, driverFolder)) return EnsureProtectedFolder(path) != FolderSafety::Unsafe;
    CreateDirectoryW(path.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// Everything below the folder, never following a junction or link out of the tree.
void RemoveContents(const std::wstring& path) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = path + L"\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) RemoveDirectoryW(child.c_str());
            else RemoveTree(child);
        } else {
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(child.c_str());
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

}  // namespace

void RemoveTree(const std::wstring& path) {
    if (path.size() < 4) return;  // never a drive root
    const DWORD top = GetFileAttributesW(path.c_str());
    if (top == INVALID_FILE_ATTRIBUTES) return;
    if ((top & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    if ((top & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryW(path.c_str());
        return;
    }
    RemoveContents(path);
    // A program that has just exited may hold its image or its working folder for a moment longer.
    for (int attempt = 0; attempt < 10 && !RemoveDirectoryW(path.c_str()); ++attempt) {
        Sleep(100);
        RemoveContents(path);
    }
}

Sha256Hasher::Sha256Hasher() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    algorithm_ = algorithm;
    DWORD objectLength = 0, written = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                          sizeof(objectLength), &written, 0))) {
        return;
    }
    object_.resize(objectLength);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, reinterpret_cast<PUCHAR>(object_.data()), objectLength, nullptr, 0, 0))) {
        hash_ = hash;
    }
}

Sha256Hasher::~Sha256Hasher() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void Sha256Hasher::Add(const uint8_t* bytes, size_t length) {
    if (hash_ == nullptr) return;
    while (length > 0) {
        const ULONG part = static_cast<ULONG>(std::min<size_t>(length, 0x40000000));
        BCryptHashData(hash_, const_cast<PUCHAR>(bytes), part, 0);
        bytes += part;
        length -= part;
    }
}

std::wstring Sha256Hasher::Finish() {
    if (hash_ == nullptr) return {};
    uint8_t digest[32]{};
    const bool finished = BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest, sizeof(digest), 0));
    BCryptDestroyHash(hash_);
    hash_ = nullptr;
    if (!finished) return {};
    std::wstring hex;
    for (const uint8_t b : digest) hex += FormatText(L"%02x", b);
    return hex;
}

InstallerRunResult RunInstaller(const std::wstring& program, const std::wstring& commandLine, const std::wstring& workingFolder,
                                uint32_t timeLimitMs, bool killOnTimeout, bool noConsoleWindow) {
    InstallerRunResult result;
    if (program.find(L'"') != std::wstring::npos || workingFolder.find(L'"') != std::wstring::npos) return result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    // A program written a moment ago may still be held by whoever wrote or is scanning it.
    bool created = false;
    for (int attempt = 0; attempt < 10 && !created; ++attempt) {
        std::wstring line = commandLine;
        created = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, noConsoleWindow ? CREATE_NO_WINDOW : 0,
                                 nullptr, workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process) != FALSE;
        const DWORD error = created ? 0 : GetLastError();
        result.startError = error;
        if (!created && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) break;
        if (!created) Sleep(200);
    }
    if (!created) return result;
    const UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    result.started = true;
    uint64_t waited = 0;
    while (WaitForSingleObject(process.hProcess, 500) == WAIT_TIMEOUT) {
        waited += 500;
        if (waited >= timeLimitMs) {
            result.timedOut = true;
            if (killOnTimeout) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, 5000);
            }
            break;
        }
    }
    DWORD code = 0xFFFFFFFF;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exitCode = code;
    return result;
}

bool IsExecutableFile(const std::wstring& path) {
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char magic[2]{};
    DWORD read = 0;
    return ReadFile(file.get(), magic, 2, &read, nullptr) && read == 2 && magic[0] == 'M' && magic[1] == 'Z';
}
