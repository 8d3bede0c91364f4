#include "driver/pinned_program.h"

#include <windows.h>

#include "driver/driver_text.h"
#include "driver/vendor_fetch.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

bool Asked(Feed* feed, const std::atomic<bool>& stop) { return stop.load() || (feed != nullptr && feed->CancelQuery()); }

std::wstring LastPart(const std::wstring& url) { return url.substr(url.find_last_of(L'/') + 1); }

}  // namespace

bool FetchPinnedProgram(const DriverTools& tools, const PinnedProgram& pin, const std::wstring& path, Feed* feed,
                        const std::atomic<bool>& stop, HeldFile& held, std::wstring& error) {
    error.clear();
    held.Release();
    const std::wstring lowerWhat = pin.what.rfind(L"The ", 0) == 0 ? L"the " + pin.what.substr(4) : pin.what;
    const size_t slash = path.find_last_of(L'\\');
    UniqueKernelHandle file;
    if (slash != std::wstring::npos && EnsureFolder(path.substr(0, slash))) file.reset(static_cast<HANDLE>(CreateNewFile(path)));
    if (!file) {
        error = L"Could not store " + lowerWhat + L".";
        return false;
    }
    FetchResult result;
    std::wstring fetchError;
    const bool fetched = VendorFetch(
        *tools.hosts, pin.kind, L"GET", pin.url, true, pin.byteLimit,
        [&](const uint8_t* chunk, size_t length, uint64_t, uint64_t) {
            if (Asked(feed, stop)) return false;
            DWORD written = 0;
            return WriteFile(file.get(), chunk, static_cast<DWORD>(length), &written, nullptr) && written == length;
        },
        result, fetchError, stop);
    file.reset();
    held = HeldFile(path);
    const auto refuse = [&](const std::wstring& text) {
        held.Release();
        DeleteFileW(path.c_str());
        error = text;
        return false;
    };
    if (!fetched) {
        return refuse(Asked(feed, stop)      ? L"Stopped."
                      : !fetchError.empty() ? fetchError
                                            : pin.what + L" could not be downloaded.");
    }
    // A release host's redirects may land anywhere on its storage: the digest is what says this
    // is the release that was pinned.
    if (!held.Held() || !SameDigest(held.Sha256(), pin.sha256)) {
        return refuse(pin.what + L" is not the one its publisher released (SHA-256 " + held.Sha256() + L"), so it was deleted.");
    }
    if (held.Kind() != ExecutableKind::X64) return refuse(pin.what + L" is not a 64-bit Windows program, so it was deleted.");
    std::wstring signatureError;
    if (!tools.verifySignature(held, pin.publisher, signatureError)) {
        return refuse(pin.what +
                      (pin.publisher.empty() ? std::wstring(L" carries a signature Windows does not accept")
                                             : L" is not signed by " + pin.publisher) +
                      L", so it was deleted. " + signatureError);
    }
    LogInfo(pin.what + L" SHA-256: " + held.Sha256() + L".");
    return true;
}

PinnedProgram PresentMonPin(const VendorHosts& hosts) {
    PinnedProgram pin;
    pin.kind = PresentMonRelease;
    pin.url = L"https://" + hosts.presentMonWeb + hosts.presentMonRelease;
    pin.sha256 = hosts.presentMonSha256;
    pin.publisher = kIntelPublisher;
    pin.what = L"The PresentMon download";
    pin.byteLimit = 0x2000000;
    return pin;
}

std::wstring ToolFolder() { return DataDirectory() + L"\\tools"; }

std::wstring EnsurePresentMon(const DriverTools& tools, Feed* feed, const std::atomic<bool>& stop, HeldFile& held,
                              std::wstring& error) {
    error.clear();
    held.Release();
    const PinnedProgram pin = PresentMonPin(*tools.hosts);
    const std::wstring folder = ToolFolder();
    const std::wstring path = folder + L"\\" + LastPart(pin.url);
    // Preparing the folder first also moves aside a data folder someone else made or changed, so
    // a file found below is one only administrators could have put there.
    if (!EnsureFolder(folder)) {
        error = L"Could not prepare " + folder + L" for PresentMon.";
        return {};
    }
    if (FileExists(path)) {
        held = HeldFile(path);
        if (held.Held() && SameDigest(held.Sha256(), pin.sha256)) {
            std::wstring signatureError;
            if (tools.verifySignature(held, pin.publisher, signatureError)) return path;
            held.Release();
            error = L"PresentMon in " + folder + L" is the pinned release, but its signature does not check out now, so it is "
                    L"not started: " + signatureError;
            return {};
        }
        held.Release();
        if (!DeleteFileW(path.c_str())) {
            error = FormatText(L"%ls is not PresentMon's pinned release and could not be deleted (error %lu).", path.c_str(),
                               GetLastError());
            return {};
        }
        LogInfo(path + L" was not PresentMon's pinned release; it is downloaded again.");
    }
    if (feed != nullptr) feed->Stage(L"GAME CHECK", L"downloading PresentMon");
    LogInfo(L"Downloading PresentMon from its release on GitHub: " + pin.url);
    if (!FetchPinnedProgram(tools, pin, path, feed, stop, held, error)) {
        if (error != L"Stopped.") {
            error += L" PresentMon was not downloaded: name a copy of your own with --presentmon PATH, or with \"Choose "
                     L"PresentMon\u2026\" in the window.";
        }
        return {};
    }
    LogInfo(L"PresentMon is kept in " + path + L" for the next game check.");
    return path;
}
