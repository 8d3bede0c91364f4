#include "update/self_update.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include "foundation/log.h"
#include "foundation/own_image.h"
#include "foundation/product.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/winhttp_util.h"
#include "foundation/chunk_writer.h"
#include "driver/vendor_fetch.h"
#include "driver/vendor_hosts.h"
#include "service/service_control.h"

namespace {

constexpr uint64_t kMaxList = 65536;
constexpr uint64_t kMaxFile = 67108864;

struct HttpsAddress {
    std::wstring host, object;
    uint16_t port = 443;
};

bool ParseHttpsAddress(const UpdateSource& source, const std::wstring& address, HttpsAddress& out, std::wstring& error) {
    const VendorHosts& hosts = *source.hosts;
    if (address.size() >= 2049) {
        error = L"The update address is too long.";
        return false;
    }
    UrlParts parts;
    if (!SplitUrl(address, parts) || parts.scheme != L"https") {
        error = L"The update address is not https.";
        return false;
    }
    if (parts.host != hosts.publisherSite && parts.host != L"www." + hosts.publisherSite && parts.host != hosts.publisherMedia) {
        error = L"The update address is not on " + hosts.publisherSite + L".";
        return false;
    }
    out.host = parts.host;
    out.object = parts.path + parts.query;
    out.port = parts.port != 0 ? parts.port : 443;
    return true;
}

bool IsUpdateFileAddress(const UpdateSource& source, const std::wstring& address, HttpsAddress& out, std::wstring& error) {
    if (!ParseHttpsAddress(source, address, out, error)) return false;
    const std::wstring& media = source.hosts->publisherMedia;
    if (out.host != media) {
        error = L"The update file is not on " + media + L".";
        return false;
    }
    const std::wstring path = out.object.substr(0, out.object.find(L'?'));
    if (!AllowedDownloadPath(path)) {
        error = L"The update file must be https://" + media + L"/Quorvantis.exe or Quorvantis-<release>.exe.";
        return false;
    }
    return true;
}

std::wstring Authority(const HttpsAddress& a) {
    return a.port == 443 ? a.host : a.host + FormatText(L":%u", static_cast<unsigned>(a.port));
}

bool Base64Decode(const std::wstring& text, std::vector<uint8_t>& bytes) {
    DWORD size = 0;
    if (!CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
        return false;
    }
    bytes.resize(size);
    return CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, bytes.data(), &size, nullptr,
                                nullptr) != FALSE;
}

bool Sha256Of(const std::string& text, uint8_t digest[32]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
    const bool ok = BCRYPT_SUCCESS(BCryptHash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                                              static_cast<ULONG>(text.size()), digest, 32));
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

bool ServiceStartAndWait(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_START | SERVICE_QUERY_STATUS);
    bool running = false;
    if (service != nullptr) {
        StartServiceW(service, 0, nullptr);
        for (int waited = 0; waited < 15000 && !running; waited += 250) {
            SERVICE_STATUS status{};
            running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
            if (!running) Sleep(250);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

void RestartServiceAfterUpdate(bool wasRunning) {
    if (!wasRunning) return;
    if (!ServiceStartAndWait(kServiceName) && !ServiceStartAndWait(kLegacyServiceName)) {
        AppendLogLine(L"The Quorvantis service did not restart.");
    }
}

bool CountDownload(const UpdateSource& source, const std::wstring& version) {
    if (version.empty() || version.size() > 31 || version.find_first_not_of(L"0123456789.") != std::wstring::npos) return false;
    const std::string body = "{\"source\":\"app\",\"version\":\"" + ToUtf8(version) + "\"}";
    UniqueInternet session = OpenSession(L"Quorvantis update");
    if (!session) return false;
    WinHttpSetTimeouts(session.get(), 3000, 3000, 4000, 4000);
    const std::wstring& authority = source.hosts->publisherSiteAuthority;
    UrlParts parts;
    if (!SplitUrl(L"https://" + authority + L"/api/quorvantis/downloads", parts)) return false;
    UniqueInternet connection(WinHttpConnect(session.get(), parts.host.c_str(), parts.port != 0 ? parts.port : 443, 0));
    UniqueInternet request;
    if (connection) {
        request.reset(WinHttpOpenRequest(connection.get(), L"POST", parts.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    }
    if (!request) return false;
    DisableRedirects(request.get());
    const wchar_t* headers = L"Content-Type: application/json\r\nAccept: application/json\r\n";
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    const DWORD status = ResponseStatus(request.get());
    return status >= 200 && status <= 299;
}

}  // namespace

bool FetchHttps(const UpdateSource& source, const std::wstring& address, const std::wstring& userAgent, bool fileMode,
                uint64_t maximum, uint64_t expected, const std::wstring& targetFile, std::string* memory,
                const std::atomic<bool>& cancel, const UpdateProgress& progress, std::wstring& sha256, std::wstring& error) {
    sha256.clear();
    error.clear();
    if (cancel.load()) {
        error = L"Stopped.";
        return false;
    }
    const std::wstring& site = source.hosts->publisherSite;
    const std::wstring& media = source.hosts->publisherMedia;
    HttpsAddress target;
    if (fileMode ? !IsUpdateFileAddress(source, address, target, error) : !ParseHttpsAddress(source, address, target, error)) return false;
    UniqueInternet session = OpenSession(userAgent.c_str());
    if (!session) {
        error = L"Could not reach " + site + L".";
        return false;
    }
    WinHttpSetTimeouts(session.get(), 8000, 8000, 20000, fileMode ? 30000 : 10000);
    UniqueInternet connection, request;
    DWORD status = 0;
    for (int hop = 0;; ++hop) {
        request.reset();
        connection.reset(WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
        if (connection) {
            request.reset(WinHttpOpenRequest(connection.get(), L"GET", target.object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
        }
        if (!request) {
            error = L"Could not reach " + site + L".";
            return false;
        }
        DisableRedirects(request.get());
        DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
        WinHttpSetOption(request.get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof(decompression));
        const wchar_t* headers = fileMode ? L"Accept: application/octet-stream\r\nCache-Control: no-cache\r\n"
                                          : L"Accept: application/json\r\nCache-Control: no-cache\r\n";
        if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request.get(), nullptr)) {
            error = GetLastError() == ERROR_WINHTTP_SECURE_FAILURE ? site + L" did not present a trusted certificate."
                                                                   : L"Could not reach " + site + L".";
            return false;
        }
        status = ResponseStatus(request.get());
        if (!IsRedirectStatus(status)) break;
        std::wstring location = ResponseHeader(request.get(), WINHTTP_QUERY_LOCATION);
        if (!location.empty() && location[0] == L'/' && (location.size() < 2 || location[1] != L'/')) {
            location = L"https://" + Authority(target) + location;
        }
        std::wstring ignored;
        const bool allowed = hop < 10 && (fileMode ? IsUpdateFileAddress(source, location, target, ignored)
                                                   : ParseHttpsAddress(source, location, target, ignored));
        if (!allowed) {
            error = fileMode ? L"The download was redirected away from " + media + L"."
                             : L"The update list was redirected away from " + site + L".";
            return false;
        }
    }
    if (status == 404 && !fileMode) {
        error = L"No update list is published at /quorvantis/latest.json yet.";
        return false;
    }
    if (status != 200) {
        error = FormatText(L"The update server returned status %lu.", status);
        return false;
    }
    const std::wstring encoding = ResponseHeader(request.get(), WINHTTP_QUERY_CONTENT_ENCODING);
    const uint64_t length =
        encoding.empty() || _wcsicmp(encoding.c_str(), L"identity") == 0 ? DecimalOrZero(ResponseHeader(request.get(), WINHTTP_QUERY_CONTENT_LENGTH)) : 0;
    if (length != 0 && (length > maximum || (expected != 0 && length != expected))) {
        error = L"The download size does not match the update list.";
        return false;
    }
    UniqueKernelHandle file;
    Sha256Hasher hasher;
    if (fileMode) {
        file = AdoptFileHandle(CreateFileW(targetFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = L"Could not store the download.";
            return false;
        }
    }
    const auto fail = [&](const std::wstring& text) {
        error = text;
        if (fileMode) {
            file.reset();
            DeleteFileW(targetFile.c_str());
        }
        return false;
    };
    std::vector<uint8_t> buffer(65536);
    uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) return fail(L"The download stopped early.");
        if (read == 0) break;
        total += read;
        if (total > maximum) return fail(L"The download is larger than expected.");
        if (fileMode) {
            DWORD written = 0;
            if (!WriteFile(file.get(), buffer.data(), read, &written, nullptr) || written != read) return fail(L"Could not store the download.");
            hasher.Add(buffer.data(), read);
        } else if (memory != nullptr) {
            memory->append(reinterpret_cast<const char*>(buffer.data()), read);
        }
        if (progress) progress(expected != 0 ? expected : length, total);
        if (cancel.load()) return fail(L"Stopped.");
    }
    if ((length != 0 && total != length) || (expected != 0 && total != expected)) {
        return fail(L"The download size does not match the update list.");
    }
    if (fileMode) {
        file.reset();
        sha256 = hasher.Finish();
        if (sha256.empty()) return fail(L"Could not verify the download.");
    }
    return true;
}

bool VerifyUpdateSignature(const UpdateSource& source, const AppUpdate& update, const std::wstring& signatureBase64,
                           std::wstring& error) {
    error = L"The update list is not signed by the publisher, so it was ignored.";
    std::vector<uint8_t> signature;
    if (signatureBase64.empty() || !Base64Decode(signatureBase64, signature) || signature.size() != 64 || source.publicKey.size() != 64) {
        return false;
    }
    uint8_t digest[32];
    if (!Sha256Of(SignedUpdateText(update), digest)) return false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = 32;
    memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), source.publicKey.data(), 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = false;
    if (BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(), static_cast<ULONG>(blob.size()), 0))) {
        valid = BCRYPT_SUCCESS(BCryptVerifySignature(key, nullptr, digest, 32, signature.data(), 64, 0));
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (valid) error.clear();
    return valid;
}

bool CheckForAppUpdate(const UpdateSource& source, const std::wstring& current, AppUpdate& update, const std::atomic<bool>& cancel,
                       std::wstring& error) {
    update = AppUpdate{};
    error.clear();
    Version currentVersion{};
    if (!ParseVersion(current, currentVersion)) {
        error = L"This copy's version could not be read.";
        return false;
    }
    Version resource{};
    std::wstring ignored;
    if (ReadFileVersion(RunningExecutablePath(32768), resource, ignored) && CompareVersions(resource, currentVersion) > 0) {
        currentVersion = resource;
    }
    std::string body;
    std::wstring digest;
    if (!FetchHttps(source, L"https://" + source.hosts->publisherSiteAuthority + L"/quorvantis/latest.json?current=" + current,
                    L"Quorvantis/" + current, false, kMaxList, 0, L"", &body, cancel, nullptr, digest, error)) {
        return false;
    }
    AppUpdate listed;
    std::wstring signature;
    const ListError parsed = ParseUpdateList(body, listed, signature);
    if (parsed == ListError::NotJson) {
        error = L"The update list is not valid JSON.";
        return false;
    }
    if (parsed == ListError::NotObject) {
        error = L"The update list is not a JSON object.";
        return false;
    }
    Version offered{};
    if (!ParseVersion(listed.version, offered)) {
        error = L"The update list's version is not a number like 1.12.1.";
        return false;
    }
    if (CompareVersions(offered, currentVersion) <= 0) return false;
    HttpsAddress file;
    if (!IsUpdateFileAddress(source, listed.url, file, error)) return false;
    listed.sha256 = NormaliseSha256(listed.sha256);
    if (listed.sha256.empty()) {
        error = L"The update list's sha256 is not 64 hex digits.";
        return false;
    }
    if (listed.size != 0 && listed.size > kMaxFile) {
        error = L"The update list's size is not a Quorvantis executable.";
        return false;
    }
    // Whoever controls the site controls the list; only the publisher's key makes it an offer.
    if (!VerifyUpdateSignature(source, listed, signature, error)) return false;
    if (listed.notes.size() > 2000) listed.notes.resize(2000);
    update = listed;
    return true;
}

bool CheckX64Executable(const std::wstring& path, std::wstring& error) {
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = L"The download could not be read.";
        return false;
    }
    uint8_t head[4096];
    DWORD read = 0;
    error = L"The download is not a Windows executable.";
    if (!ReadFile(file.get(), head, sizeof(head), &read, nullptr) || read < 64 || head[0] != 'M' || head[1] != 'Z') return false;
    uint32_t offset = 0;
    memcpy(&offset, head + 60, 4);
    uint8_t pe[6]{};
    if (offset <= read - 6) {
        memcpy(pe, head + offset, 6);
    } else {
        LARGE_INTEGER at{};
        at.QuadPart = offset;
        DWORD got = 0;
        if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !ReadFile(file.get(), pe, 6, &got, nullptr) || got != 6) return false;
    }
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return false;
    if ((pe[4] | (pe[5] << 8)) != 0x8664) {
        error = L"The download is not the 64-bit Quorvantis executable.";
        return false;
    }
    error.clear();
    return true;
}

bool ReadFileVersion(const std::wstring& path, Version& version, std::wstring& error) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) {
        error = L"The download has no version information.";
        return false;
    }
    std::vector<uint8_t> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr || length < sizeof(*fixed)) {
        error = L"The download's version could not be read.";
        return false;
    }
    version = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
               LOWORD(fixed->dwFileVersionLS)};
    return true;
}

bool DownloadAndVerifyUpdate(const UpdateSource& source, const AppUpdate& update, const std::wstring& file,
                             const std::function<void(const std::wstring&)>& status, const std::atomic<bool>& cancel,
                             std::wstring& error) {
    Version wanted{};
    HttpsAddress address;
    std::wstring ignored;
    if (!ParseVersion(update.version, wanted) || !IsUpdateFileAddress(source, update.url, address, ignored) ||
        NormaliseSha256(update.sha256).empty()) {
        error = L"The update list is incomplete.";
        return false;
    }
    if (update.size > kMaxFile) {
        error = L"The update list's size is not a Quorvantis executable.";
        return false;
    }
    std::wstring digest;
    const bool fetched = FetchHttps(
        source, update.url, L"Quorvantis update", true, kMaxFile, update.size, file, nullptr, cancel,
        [&](uint64_t total, uint64_t received) {
            if (!status) return;
            status(total != 0 ? FormatText(L"Downloading %ls\u2026  %.0f%%", update.version.c_str(),
                                           static_cast<double>(received) * 100.0 / static_cast<double>(total))
                              : L"Downloading " + update.version + L"\u2026");
        },
        digest, error);
    if (!fetched) return false;
    const auto reject = [&](const std::wstring& text) {
        DeleteFileW(file.c_str());
        error = text;
        return false;
    };
    if (_wcsicmp(digest.c_str(), NormaliseSha256(update.sha256).c_str()) != 0) return reject(L"The download did not match the published checksum.");
    if (!CheckX64Executable(file, error)) return reject(error);
    Version found{};
    if (!ReadFileVersion(file, found, error)) return reject(error);
    if (CompareVersions(found, wanted) != 0) {
        return reject(FormatText(L"The download says it is %ls, not %ls.", VersionText(found).c_str(), update.version.c_str()));
    }
    return true;
}

bool ReplaceExecutable(const std::wstring& target, const std::wstring& newFile, std::wstring& error) {
    const std::wstring old = target + L".old";
    DeleteFileW(old.c_str());
    if (FileExists(target)) {
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!MoveFileExW(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = FormatText(L"Could not move the current executable aside (error %lu).", GetLastError());
            return false;
        }
    }
    if (CopyFileW(newFile.c_str(), target.c_str(), FALSE)) {
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    const DWORD code = GetLastError();
    MoveFileExW(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    error = FormatText(L"Could not replace %ls (error %lu).", target.c_str(), code);
    return false;
}

int ApplyAppUpdate(const UpdateSource& source, const AppUpdate& update, const std::function<void(const std::wstring&)>& status,
                   const std::atomic<bool>& cancel, std::wstring& error) {
    if (cancel.load()) return 1;
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length >= MAX_PATH) {
        error = L"Could not find a temporary folder.";
        return 1;
    }
    const std::wstring temporary = std::wstring(folder) + L"Quorvantis-update.exe";
    DeleteFileW(temporary.c_str());
    if (!DownloadAndVerifyUpdate(source, update, temporary, status, cancel, error)) {
        DeleteFileW(temporary.c_str());
        if (!cancel.load()) AppendLogLine(L"Update failed: " + error);
        return 1;
    }
    if (cancel.load()) {
        DeleteFileW(temporary.c_str());
        return 1;
    }
    if (status) status(L"Replacing this copy\u2026");
    if (!CountDownload(source, update.version)) AppendLogLine(L"The download counter could not be updated.");
    const bool serviceWasRunning = QueryTimerServiceState() == 1;
    const bool serviceInstalled = TimerServiceInstalled();
    const auto fail = [&](const std::wstring& text) {
        error = text;
        AppendLogLine(L"Update failed: " + error);
        DeleteFileW(temporary.c_str());
        return 1;
    };
    if (serviceInstalled && (!StopServiceByName(kServiceName) || !StopServiceByName(kLegacyServiceName))) {
        return fail(L"The Quorvantis service did not stop, so its copy could not be replaced.");
    }
    const std::wstring running = RunningExecutablePath(32768);
    bool installedReplaced = false;
    if ((serviceInstalled || FileExists(InstalledExePath())) && !SamePath(running, InstalledExePath())) {
        CreateDirectoryW(InstallDirectory().c_str(), nullptr);
        std::wstring replaceError;
        if (!ReplaceExecutable(InstalledExePath(), temporary, replaceError)) {
            RestartServiceAfterUpdate(serviceWasRunning);
            return fail(replaceError);
        }
        installedReplaced = true;
    }
    std::wstring replaceError;
    ReleaseOwnImage();  // held against renames since the start; the update renames it on purpose
    if (!ReplaceExecutable(running, temporary, replaceError)) {
        RestartServiceAfterUpdate(serviceWasRunning);
        return fail(installedReplaced ? L"The installed copy was updated, but this copy could not be replaced. " + replaceError
                                      : replaceError);
    }
    DeleteFileW(temporary.c_str());
    RestartServiceAfterUpdate(serviceWasRunning);
    AppendLogLine(L"Updated to " + update.version + L".");
    return 0;
}

void RemoveOldCopies() {
    const auto remove = [](const std::wstring& path) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (DeleteFileW(path.c_str())) return;
            const DWORD error = GetLastError();
            if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return;
            Sleep(50);
        }
    };
    const std::wstring running = RunningExecutablePath(32768);
    if (!running.empty()) remove(running + L".old");
    if (!SamePath(running, InstalledExePath())) remove(InstalledExePath() + L".old");
}

bool RelaunchSelf() {
    const std::wstring path = RunningExecutablePath(32768);
    if (path.empty()) return false;
    std::wstring line = L"\"" + path + L"\"";
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process)) return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
