#include "update/self_update.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <array>

#include "foundation/child_process.h"
#include "foundation/https_fetch.h"
#include "foundation/log.h"
#include "foundation/own_image.h"
#include "foundation/product.h"
#include "foundation/sha256.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "service/service_control.h"
#include "service/service_install.h"

namespace {

constexpr uint64_t kMaxList = 65536;
constexpr uint64_t kMaxFile = 67108864;

// The updated running copy, held from its replacement until the relaunch has started it.
HeldFile g_updatedImage;

bool ParseHttpsAddress(const UpdateSource& source, const std::wstring& address, UrlParts& out, std::wstring& error) {
    const PublisherHosts& hosts = source.hosts;
    if (address.size() >= 2049) {
        error = L"The update address is too long.";
        return false;
    }
    if (!SplitUrl(address, out) || out.scheme != L"https") {
        error = L"The update address is not https.";
        return false;
    }
    if (out.host != hosts.site && out.host != L"www." + hosts.site && out.host != hosts.media) {
        error = L"The update address is not on " + hosts.site + L".";
        return false;
    }
    return true;
}

bool IsUpdateFileAddress(const UpdateSource& source, const std::wstring& address, UrlParts& out, std::wstring& error) {
    if (!ParseHttpsAddress(source, address, out, error)) return false;
    const std::wstring& media = source.hosts.media;
    if (out.host != media) {
        error = L"The update file is not on " + media + L".";
        return false;
    }
    if (!AllowedDownloadPath(out.path)) {
        error = L"The update file must be https://" + media + L"/Quorvantis.exe or Quorvantis-<release>.exe.";
        return false;
    }
    return true;
}

// The list and the counter live on the site; files only on the media host, under the allowed names.
FetchPolicy ListPolicy(const UpdateSource& source) {
    FetchPolicy policy;
    policy.hosts = {source.hosts.site, L"www." + source.hosts.site, source.hosts.media};
    policy.byteLimit = kMaxList;
    return policy;
}

FetchPolicy FilePolicy(const UpdateSource& source) {
    FetchPolicy policy;
    policy.hosts = {source.hosts.media};
    policy.addressAllowed = [](const UrlParts& parts) { return AllowedDownloadPath(parts.path); };
    policy.byteLimit = kMaxFile;
    return policy;
}

FetchRequest UpdateRequest(const std::wstring& url, const std::wstring& userAgent, bool file) {
    FetchRequest request;
    request.url = url;
    request.userAgent = userAgent;
    request.headers = file ? L"Accept: application/octet-stream\r\nCache-Control: no-cache\r\n"
                           : L"Accept: application/json\r\nCache-Control: no-cache\r\n";
    request.timeouts = {8000, 8000, 20000, file ? 30000 : 10000};
    return request;
}

// The publisher-facing words for a failed fetch.
std::wstring UpdateFetchError(const UpdateSource& source, const FetchResult& result, bool file) {
    const std::wstring& site = source.hosts.site;
    switch (result.failure) {
    case FetchFailure::None: return {};
    case FetchFailure::NotHttps: return L"The update address is not https.";
    case FetchFailure::HostRefused: return file ? L"The update file is not on " + source.hosts.media + L"." : L"The update address is not on " + site + L".";
    case FetchFailure::NoSession:
    case FetchFailure::NoRequest: return L"Could not reach " + site + L".";
    case FetchFailure::NoAnswer:
        return result.certificateRefused() ? site + L" did not present a trusted certificate." : L"Could not reach " + site + L".";
    case FetchFailure::Redirected:
        return file ? L"The download was redirected away from " + source.hosts.media + L"." : L"The update list was redirected away from " + site + L".";
    case FetchFailure::Status:
        if (result.status == 404 && !file) return L"No update list is published at /quorvantis/latest.json yet.";
        return FormatText(L"The update server returned status %lu.", static_cast<unsigned long>(result.status));
    case FetchFailure::ReadFailed: return L"The download stopped early.";
    case FetchFailure::TooLarge:
        return result.contentLength > (file ? kMaxFile : kMaxList) ? L"The download size does not match the update list."
                                                                   : L"The download is larger than expected.";
    case FetchFailure::SinkRefused: return L"Could not store the download.";
    case FetchFailure::EndedEarly: return L"The download size does not match the update list.";
    case FetchFailure::Stopped: return L"Stopped.";
    }
    return {};
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

void RestartServiceAfterUpdate(bool wasRunning) {
    if (!wasRunning) return;
    if (!StartServiceAndWait(kServiceName, 15000) && !StartServiceAndWait(kLegacyServiceName, 15000)) {
        AppendLogLine(L"The Quorvantis service did not restart.");
    }
}

bool CountDownload(const UpdateSource& source, const std::wstring& version) {
    if (version.empty() || version.size() > 31 || version.find_first_not_of(L"0123456789.") != std::wstring::npos) return false;
    FetchPolicy policy;
    policy.hosts = {source.hosts.site};
    policy.byteLimit = 4096;
    FetchRequest request;
    request.method = L"POST";
    request.url = L"https://" + source.hosts.siteAuthority + L"/api/quorvantis/downloads";
    request.userAgent = L"Quorvantis update";
    request.headers = L"Content-Type: application/json\r\nAccept: application/json\r\n";
    request.body = "{\"source\":\"app\",\"version\":\"" + ToUtf8(version) + "\"}";
    request.redirects = 0;
    request.timeouts = {3000, 3000, 4000, 4000};
    FetchResult result;
    const std::atomic<bool> never{false};
    const bool ok = HttpsFetch(policy, request, nullptr, result, never);
    return ok || (result.failure == FetchFailure::Status && result.status >= 200 && result.status <= 299);
}

// The version resource of a program file, when it has one.
bool FileVersionOf(const std::wstring& path, Version& version) {
    std::wstring ignored;
    return FileExists(path) && ReadFileVersion(path, version, ignored);
}

// A copy worth keeping: a 64-bit Windows program.
bool IsWholeProgram(const std::wstring& path) {
    const HeldFile file(path);
    return file.Held() && file.Kind() == ExecutableKind::X64;
}

bool WriteAllFromHeld(const HeldFile& source, const std::wstring& destination, std::wstring& error) {
    const UniqueKernelHandle out(static_cast<HANDLE>(CreateNewFile(destination)));
    if (!out) {
        error = FormatText(L"Could not write %ls (error %lu).", destination.c_str(), GetLastError());
        return false;
    }
    bool writeFailed = false;
    const bool copied = ReadFileChunks(source.Handle(), [&](const uint8_t* bytes, size_t count) {
        DWORD written = 0;
        writeFailed = !WriteFile(out.get(), bytes, static_cast<DWORD>(count), &written, nullptr) || written != count;
        return !writeFailed;
    });
    if (!copied) {
        error = writeFailed ? FormatText(L"Could not write %ls (error %lu).", destination.c_str(), GetLastError())
                            : std::wstring(L"The download could not be read.");
        return false;
    }
    // On the disk before the rename that makes it the program: a power cut must not leave a
    // renamed file whose bytes never arrived.
    if (!FlushFileBuffers(out.get())) {
        error = FormatText(L"Could not write %ls (error %lu).", destination.c_str(), GetLastError());
        return false;
    }
    return true;
}

}  // namespace

bool VerifyUpdateSignature(const UpdateSource& source, const AppUpdate& update, const std::wstring& signatureBase64,
                           std::wstring& error) {
    error = L"The update list is not signed by the publisher, so it was ignored.";
    std::vector<uint8_t> signature;
    if (signatureBase64.empty() || !Base64Decode(signatureBase64, signature) || signature.size() != 64 || source.publicKey.size() != 64) {
        return false;
    }
    const std::string text = SignedUpdateText(update);
    Sha256Hasher hasher;
    hasher.Add(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::array<uint8_t, 32> digest{};
    if (!hasher.FinishBytes(digest)) return false;
    UniqueAlgorithm algorithm;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = 32;
    memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), source.publicKey.data(), 64);
    UniqueCryptKey key;
    const bool valid =
        BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(), static_cast<ULONG>(blob.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), nullptr, digest.data(), 32, signature.data(), 64, 0));
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
    // Newer than this copy and than the installed one: an older list must never take the
    // service's copy back.
    for (const std::wstring& path : {RunningExecutablePath(32768), InstalledExePath()}) {
        Version found{};
        if (FileVersionOf(path, found) && CompareVersions(found, currentVersion) > 0) currentVersion = found;
    }
    FetchResult result;
    const FetchRequest request =
        UpdateRequest(L"https://" + source.hosts.siteAuthority + L"/quorvantis/latest.json?current=" + current, L"Quorvantis/" + current, false);
    if (!HttpsFetch(ListPolicy(source), request, nullptr, result, cancel)) {
        error = UpdateFetchError(source, result, false);
        return false;
    }
    AppUpdate listed;
    UpdateSignatures signatures;
    const ListError parsed = ParseUpdateList(result.body, listed, signatures);
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
    UrlParts file;
    if (!IsUpdateFileAddress(source, listed.url, file, error)) return false;
    if (NormaliseSha256(listed.sha256).empty()) {
        error = L"The update list's sha256 is not 64 hex digits.";
        return false;
    }
    if (listed.size != 0 && listed.size > kMaxFile) {
        error = L"The update list's size is not a Quorvantis executable.";
        return false;
    }
    // Whoever controls the site controls the list; only the publisher's key makes it an offer,
    // and the key covers everything shown or acted on, the notes included.
    if (!VerifyUpdateSignature(source, listed, signatures.full, error)) return false;
    listed.sha256 = NormaliseSha256(listed.sha256);
    if (listed.notes.size() > 2000) listed.notes.resize(2000);
    update = listed;
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

bool DownloadAndVerifyUpdate(const UpdateSource& source, const AppUpdate& update, const std::wstring& file, HeldFile& held,
                             const UpdateStatus& status, const std::atomic<bool>& cancel, std::wstring& error) {
    held.Release();
    Version wanted{};
    UrlParts address;
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
    UniqueKernelHandle out(static_cast<HANDLE>(CreateNewFile(file)));
    if (!out) {
        error = L"Could not store the download.";
        return false;
    }
    const auto reject = [&](const std::wstring& text) {
        held.Release();
        out.reset();
        DeleteFileW(file.c_str());
        error = text;
        return false;
    };
    std::wstring sinkError;
    FetchResult result;
    const bool fetched = HttpsFetch(
        FilePolicy(source), UpdateRequest(update.url, L"Quorvantis update", true),
        [&](const uint8_t* chunk, size_t length, uint64_t received, uint64_t stated) {
            if (stated != 0 && update.size != 0 && stated != update.size) {
                sinkError = L"The download size does not match the update list.";
                return false;
            }
            DWORD written = 0;
            if (!WriteFile(out.get(), chunk, static_cast<DWORD>(length), &written, nullptr) || written != length) {
                sinkError = L"Could not store the download.";
                return false;
            }
            if (status) {
                const uint64_t total = update.size != 0 ? update.size : stated;
                status(total != 0 ? FormatText(L"Downloading %ls\u2026  %.0f%%", update.version.c_str(),
                                               static_cast<double>(received) * 100.0 / static_cast<double>(total))
                                  : L"Downloading " + update.version + L"\u2026");
            }
            return true;
        },
        result, cancel);
    if (!fetched) return reject(!sinkError.empty() ? sinkError : UpdateFetchError(source, result, true));
    if (update.size != 0 && result.contentLength != update.size) return reject(L"The download size does not match the update list.");
    // From here to the last copy the file is held: what is checked below is what gets installed.
    out.reset();
    held = HeldFile(file);
    if (!held.Held()) return reject(L"Could not verify the download.");
    const std::wstring digest = held.Sha256();
    if (digest.empty()) return reject(L"Could not verify the download.");
    if (digest != NormaliseSha256(update.sha256)) return reject(L"The download did not match the published checksum.");
    const ExecutableKind kind = held.Kind();
    if (kind == ExecutableKind::NotExecutable || kind == ExecutableKind::NotPe) return reject(L"The download is not a Windows executable.");
    if (kind != ExecutableKind::X64) return reject(L"The download is not the 64-bit Quorvantis executable.");
    Version found{};
    if (!ReadFileVersion(file, found, error)) return reject(error);
    if (CompareVersions(found, wanted) != 0) {
        return reject(FormatText(L"The download says it is %ls, not %ls.", VersionText(found).c_str(), update.version.c_str()));
    }
    return true;
}

bool ReplaceExecutable(const std::wstring& target, const HeldFile& source, HeldFile& placed, std::wstring& error) {
    placed.Release();
    const std::wstring fresh = target + L".new";
    const std::wstring old = target + L".old";
    if (!source.Held() || !WriteAllFromHeld(source, fresh, error)) {
        if (!source.Held()) error = L"The download could not be read.";
        DeleteFileW(fresh.c_str());
        return false;
    }
    DeleteFileW(old.c_str());
    const bool hadTarget = FileExists(target);
    if (hadTarget) {
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A running program cannot be overwritten, only renamed; the rename is written through
        // so that after a power cut the ".old" copy is there to be put back.
        if (!MoveFileExW(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = FormatText(L"Could not move the current executable aside (error %lu).", GetLastError());
            DeleteFileW(fresh.c_str());
            return false;
        }
    }
    const auto putBack = [&] {
        if (hadTarget) MoveFileExW(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        DeleteFileW(fresh.c_str());
    };
    if (!MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        putBack();
        error = FormatText(L"Could not replace %ls (error %lu).", target.c_str(), code);
        return false;
    }
    // Checked as it now lies at the target: a 64-bit program with exactly the verified bytes. (Its
    // version resource cannot be read by path here: a running program's path answers with the
    // loaded image's resources.) The handle that checked it stays with the caller, so the file that
    // starts next is the one checked here.
    placed = HeldFile(target);
    const std::wstring expected = source.Sha256();
    if (!placed.Held() || placed.Kind() != ExecutableKind::X64 || expected.empty() || placed.Sha256() != expected) {
        placed.Release();
        DeleteFileW(target.c_str());
        putBack();
        error = FormatText(L"The new copy at %ls did not check out, so the previous one was put back.", target.c_str());
        return false;
    }
    // The old copy goes once the new one passed; a running one goes at the next start.
    if (hadTarget) DeleteFileW(old.c_str());
    return true;
}

Outcome ApplyAppUpdate(const UpdateSource& source, const AppUpdate& update, const UpdateStatus& status,
                       const std::atomic<bool>& cancel) {
    if (cancel.load()) return Outcome::Stopped();
    const auto fail = [](const std::wstring& text) {
        AppendLogLine(L"Update failed: " + text);
        return Outcome::Failed(text);
    };
    Version wanted{};
    if (!ParseVersion(update.version, wanted)) return fail(L"The update list is incomplete.");
    Version installed{};
    if (FileVersionOf(InstalledExePath(), installed) && CompareVersions(installed, wanted) >= 0) {
        return fail(FormatText(L"The installed copy is already version %ls, so %ls was not installed.", VersionText(installed).c_str(),
                               update.version.c_str()));
    }
    // Staged in a folder only administrators can write, made new for this download.
    const std::wstring stage = DataDirectory() + L"\\update";
    std::wstring folderError;
    if (!CreateFreshFolder(stage, folderError)) return fail(folderError);
    const std::wstring staged = stage + L"\\Quorvantis-update.exe";
    HeldFile held;
    const auto cleanUp = [&] {
        held.Release();
        RemoveTree(stage);
    };
    std::wstring error;
    if (!DownloadAndVerifyUpdate(source, update, staged, held, status, cancel, error)) {
        cleanUp();
        return cancel.load() ? Outcome::Stopped() : fail(error);
    }
    if (cancel.load()) {
        cleanUp();
        return Outcome::Stopped();
    }
    if (status) status(L"Replacing this copy\u2026");
    if (!CountDownload(source, update.version)) AppendLogLine(L"The download counter could not be updated.");
    const bool serviceWasRunning = QueryTimerServiceState() == TimerServiceState::Running;
    const bool serviceInstalled = TimerServiceInstalled();
    if (serviceInstalled && (!StopServiceByName(kServiceName) || !StopServiceByName(kLegacyServiceName))) {
        cleanUp();
        return fail(L"The Quorvantis service did not stop, so its copy could not be replaced.");
    }
    const std::wstring running = RunningExecutablePath(32768);
    bool installedReplaced = false;
    HeldFile placedInstalled;  // held until the service has started from it
    if ((serviceInstalled || FileExists(InstalledExePath())) && !SamePath(running, InstalledExePath())) {
        std::wstring replaceError;
        if (!PrepareInstallDirectory() || !ReplaceExecutable(InstalledExePath(), held, placedInstalled, replaceError)) {
            cleanUp();
            RestartServiceAfterUpdate(serviceWasRunning);
            return fail(replaceError.empty() ? L"The install folder could not be made safe." : replaceError);
        }
        installedReplaced = true;
    }
    std::wstring replaceError;
    ReleaseOwnImage();  // held against renames since the start; the update renames it on purpose
    HeldFile placed;
    if (!ReplaceExecutable(running, held, placed, replaceError)) {
        cleanUp();
        RestartServiceAfterUpdate(serviceWasRunning);
        return fail(installedReplaced ? L"The installed copy was updated, but this copy could not be replaced. " + replaceError
                                      : replaceError);
    }
    // Held from its check until the relaunch has started it: nobody may change the new copy between.
    g_updatedImage = std::move(placed);
    cleanUp();
    RestartServiceAfterUpdate(serviceWasRunning);
    AppendLogLine(L"Updated to " + update.version + L".");
    return Outcome::Done();
}

void RecoverInterruptedUpdate() {
    const std::wstring target = InstalledExePath();
    const std::wstring old = target + L".old";
    DeleteFileW((target + L".new").c_str());
    if (!FileExists(old) || IsWholeProgram(target) || !IsWholeProgram(old)) return;
    if (MoveFileExW(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        AppendLogLine(FormatText(L"An update of %ls was interrupted; the previous copy was put back.", target.c_str()));
    }
}

void RemoveOldCopies() {
    const auto remove = [](const std::wstring& program) {
        const std::wstring old = program + L".old";
        // Only once the program itself is whole: until then the old copy is what recovery restores.
        if (!FileExists(old) || !IsWholeProgram(program)) return;
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (DeleteFileW(old.c_str())) return;
            const DWORD error = GetLastError();
            if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return;
            Sleep(50);
        }
    };
    const std::wstring running = RunningExecutablePath(32768);
    if (!running.empty()) remove(running);
    if (!SamePath(running, InstalledExePath())) remove(InstalledExePath());
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
    ChildLaunch launch;
    launch.KeepTemporaryFolder();  // the new copy outlives this one
    const bool started = launch.Start(path, line, folder, 0, startup, false, process);
    // The new process maps its image as it is created; from then on Windows itself keeps the file.
    g_updatedImage.Release();
    const UniqueKernelHandle thread(process.hThread), child(process.hProcess);
    return started;
}
