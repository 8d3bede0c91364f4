// The Afterburner step: install when missing (the pinned archive, checked against its digest),
// configure, scan on NVIDIA hardware, and register the logon tasks.
#include <windows.h>

#include "afterburner/afterburner.h"
#include "afterburner/afterburner_text.h"
#include "driver/driver_clean.h"
#include "driver/driver_text.h"
#include "driver/vendor_fetch.h"
#include "foundation/child_process.h"
#include "foundation/chunk_writer.h"
#include "foundation/feed.h"
#include "foundation/files.h"
#include "foundation/installer.h"
#include "foundation/log.h"
#include "foundation/protected_folder.h"
#include "foundation/scheduled_task.h"
#include "foundation/state.h"
#include "foundation/sha256.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

bool Cancelled(Feed* feed) { return feed != nullptr && feed->CancelQuery(); }

bool Fail(std::wstring& error, const std::wstring& text) {
    error = text;
    return false;
}

std::wstring Detect(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : L""; }

bool ReadText(const std::wstring& path, std::string& text) {
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x1000000) return false;
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return text.empty() || (ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) && read == text.size());
}

void ConfigureAfterburner(const std::wstring& executable) {
    const std::wstring config = executable.substr(0, executable.find_last_of(L'\\')) + L"\\MSIAfterburner.cfg";
    std::string text;
    if (!ReadText(config, text)) return;  // no configuration yet: Afterburner writes its defaults on first start
    for (const auto& [key, value] : {std::pair{"StartWithWindows", "1"}, {"StartMinimized", "1"}, {"RememberSettings", "1"},
                                     {"StartupViaTaskScheduler", "1"}, {"StartupDelay", "0"}, {"UnlockVoltageControl", "1"},
                                     {"UnlockVoltageMonitoring", "1"}, {"FirstRun", "0"}, {"EnableServer", "1"}}) {
        SetConfigKey(text, key, value);
    }
    if (!WriteNewFile(config, text)) LogInfo(L"Could not write the Afterburner configuration.");
}

// Download, check and unpack the pinned archive, then install Afterburner (and RTSS) silently.
bool InstallPrograms(const AfterburnerSetup& setup, Feed* feed, std::wstring& error) {
    if (feed != nullptr) feed->Stage(L"AFTERBURNER", L"downloading MSI Afterburner");
    LogInfo(L"Downloading MSI Afterburner 4.6.6 from the Guru3D archive.");
    std::wstring sevenZipError;
    const std::wstring sevenZip = EnsureSevenZip(*setup.driverTools, feed, sevenZipError);
    if (sevenZip.empty()) return Fail(error, L"7-Zip is required to open the Afterburner package.");

    const std::wstring work = DriverFolder();
    const std::wstring zip = work + L"\\MSIAfterburnerSetup466.zip";
    const std::wstring extract = work + L"\\afterburner-setup";
    UniqueKernelHandle file;
    if (EnsureFolder(work)) file.reset(static_cast<HANDLE>(CreateNewFile(zip)));
    if (!file) return Fail(error, L"Could not store the Afterburner download.");
    std::atomic<bool> stop{false};
    FetchResult result;
    std::wstring fetchError;
    ChunkWriter writer(file.get(), nullptr);
    bool fetched = VendorFetch(
        *setup.driverTools->hosts, AfterburnerMirror, L"GET", L"https://" + setup.driverTools->hosts->afterburnerMirror + setup.archivePath,
        false, 0x4000000,
        [&](const uint8_t* chunk, size_t length, uint64_t received, uint64_t total) {
            if (Cancelled(feed)) {
                stop.store(true);
                return false;
            }
            if (!writer.Push(chunk, length)) return false;
            if (feed != nullptr && total > 0) {
                feed->Progress(std::min(0.25 * static_cast<double>(received) / static_cast<double>(total), 0.25), 0, 0);
            }
            return true;
        },
        result, fetchError, stop);
    fetched = writer.Finish() && fetched;
    file.reset();
    // The digest is taken through the handle that then holds the archive until it is unpacked.
    HeldFile archive(zip);
    if (!fetched || !archive.Held() || !SameDigest(archive.Sha256(), setup.archiveSha256)) {
        archive.Release();
        DeleteFileW(zip.c_str());
        if (Cancelled(feed) || stop.load()) return Fail(error, L"Stopped.");
        if (!fetched && fetchError.empty()) return Fail(error, L"The Afterburner download failed.");
        return Fail(error, L"The Afterburner download did not match the published checksum.");
    }
    const auto cleanUp = [&] {
        archive.Release();
        RemoveTree(extract);
        DeleteFileW(zip.c_str());
    };
    if (!CreateFreshFolder(extract, error)) {
        cleanUp();
        return false;
    }

    LogInfo(L"Unpacking the Afterburner installer.");
    const InstallerRunResult unpacked =
        RunInstaller(sevenZip, L"\"" + sevenZip + L"\" x -y -o\"" + extract + L"\" \"" + zip + L"\"", work, 300000, true, true);
    const std::wstring installer = extract + L"\\MSIAfterburnerSetup466.exe";
    HeldFile setupFile(installer);
    if (!unpacked.started || unpacked.timedOut || unpacked.exitCode != 0 || !setupFile.Held() ||
        setupFile.Kind() == ExecutableKind::NotExecutable) {
        setupFile.Release();
        cleanUp();
        return Fail(error, L"The Afterburner package could not be unpacked.");
    }
    if (feed != nullptr) feed->Stage(L"AFTERBURNER", L"installing MSI Afterburner and RivaTuner");
    LogInfo(L"Installing MSI Afterburner.");
    const InstallerRunResult installed = RunInstaller(installer, L"\"" + installer + L"\" /S", extract, 600000, true, true);
    if (!installed.started || installed.timedOut || installed.exitCode != 0) {
        if (!installed.started) LogInfo(FormatText(L"The Afterburner installer could not be started (error %lu).", installed.startError));
        setupFile.Release();
        cleanUp();
        return Fail(error, L"MSI Afterburner did not install (" + CodeText(installed.exitCode) + L").");
    }
    if (RtssExecutable(setup).empty()) {
        LogInfo(L"Installing RivaTuner Statistics Server.");
        RunInstaller(sevenZip, L"\"" + sevenZip + L"\" e \"" + installer + L"\" -o\"" + extract + L"\" \"Redist\\RTSSSetup.exe\" -y", extract,
                     120000, true, true);
        const std::wstring rtssSetup = extract + L"\\RTSSSetup.exe";
        const HeldFile rtssFile(rtssSetup);
        if (rtssFile.Held() && rtssFile.Kind() != ExecutableKind::NotExecutable) {
            RunInstaller(rtssSetup, L"\"" + rtssSetup + L"\" /S", extract, 600000, true, true);
        }
    }
    setupFile.Release();
    cleanUp();
    if (AfterburnerExecutable(setup).empty()) return Fail(error, L"MSI Afterburner installed, but MSIAfterburner.exe was not found.");
    LogInfo(L"MSI Afterburner is installed.");
    return true;
}

}  // namespace

namespace {

// The program the installer recorded under the key, when that is a full path to a program of that
// name which exists; else the one in the default folder (never a relative path: without the
// system's program folder nothing is looked for).
std::wstring InstalledProgram(const std::wstring& key, const wchar_t* program, const std::wstring& defaultFolder) {
    wchar_t recorded[MAX_PATH] = {};
    DWORD size = sizeof(recorded);
    if (!key.empty() && RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"InstallPath", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr,
                                     recorded, &size) == ERROR_SUCCESS) {
        const std::wstring path = recorded;
        const size_t slash = path.find_last_of(L'\\');
        if (IsFullPath(path) && slash != std::wstring::npos && _wcsicmp(path.c_str() + slash + 1, program) == 0 && !Detect(path).empty()) {
            return path;
        }
    }
    return defaultFolder.empty() ? std::wstring() : Detect(defaultFolder + L"\\" + program);
}

}  // namespace

std::wstring AfterburnerExecutable(const AfterburnerSetup& setup) {
    return InstalledProgram(setup.afterburnerKey, L"MSIAfterburner.exe",
                            setup.programFilesX86.empty() ? std::wstring() : setup.programFilesX86 + L"\\MSI Afterburner");
}

std::wstring RtssExecutable(const AfterburnerSetup& setup) {
    return InstalledProgram(setup.rtssKey, L"RTSS.exe",
                            setup.programFilesX86.empty() ? std::wstring() : setup.programFilesX86 + L"\\RivaTuner Statistics Server");
}

bool CreateLogonTask(const AfterburnerSetup& setup, const std::wstring& name, const std::wstring& program, const std::wstring& arguments) {
    // Afterburner asks for administrator rights when it starts; a logon task without the highest
    // run level cannot start it (Windows refuses the elevation silently). It starts at the logon
    // of whoever sits at this desktop, in their session.
    ScheduledTaskDefinition task;
    task.start = ScheduledTaskDefinition::Start::AtLogon;
    task.account = InteractiveAccount();
    task.highest = true;
    task.description = L"Started by Quorvantis at logon.";
    task.command = program;
    task.arguments = arguments;
    std::wstring error;
    if (task.account.empty()) return false;
    // The task starts the program with administrator rights at every logon, long after this
    // check: anything a standard user could swap would run with those rights.
    if (!ProgramIsProtected(program)) {
        LogInfo(FormatText(L"%ls is in a folder that users other than administrators can change, so Quorvantis does not "
                           L"start it with administrator rights at logon. Reinstall it under Program Files.",
                           program.c_str()));
        return false;
    }
    WriteStateDword(OwnTaskRecord(name), 1);
    if (!RegisterScheduledTask(setup.schtasks, name, task, error)) {
        LogInfo(error);
        return false;
    }
    return true;
}

bool InstallAfterburner(const AfterburnerSetup& setup, Feed* feed, std::wstring& error) {
    error.clear();
    if (Cancelled(feed)) return Fail(error, L"Stopped.");
    if (feed != nullptr) feed->Stage(L"AFTERBURNER", L"download and scan, about 30 minutes");
    LogInfo(L"The Afterburner download and OC scan take about 30 minutes.");
    if (!AfterburnerExecutable(setup).empty()) {
        LogInfo(L"MSI Afterburner is already installed.");
    } else if (!InstallPrograms(setup, feed, error)) {
        return false;
    }
    const std::wstring afterburner = AfterburnerExecutable(setup);
    const std::wstring folder = afterburner.substr(0, afterburner.find_last_of(L'\\'));
    ConfigureAfterburner(afterburner);
    const std::wstring rtss = RtssExecutable(setup);
    LogInfo(rtss.empty() ? L"RivaTuner Statistics Server was not found next to Afterburner." : L"RivaTuner Statistics Server is installed.");

    bool profile1 = false;
    const std::wstring scanner = folder + L"\\Bundle\\OCScanner\\MSIOCScanner_x64.exe";
    if (!FileExists(setup.nvapi)) {
        LogInfo(L"The OC scanner targets NVIDIA. Afterburner will still apply its saved settings at logon.");
    } else if (!FileExists(scanner)) {
        LogInfo(L"The OC scanner was not in this Afterburner install. Startup apply is still configured.");
    } else if (!Cancelled(feed)) {
        profile1 = RunOcScanner(setup, afterburner, scanner, feed, error);
        if (error == L"Stopped.") return false;
    }
    if (Cancelled(feed)) return Fail(error, L"Stopped.");

    const std::wstring account = InteractiveAccount();
    if (!account.empty() && setup.isAdministrator && !setup.isAdministrator(account)) {
        // Its sign-in task would get a standard token, and Afterburner refuses to start without
        // administrator rights: Windows would say nothing, and nothing would ever start.
        LogInfo(FormatText(L"%ls is a standard account: a task at sign-in cannot give Afterburner the administrator rights it "
                           L"needs, so no logon task was made for it. Afterburner's own Start with Windows will ask for "
                           L"them at each sign-in.",
                           account.c_str()));
    } else if (!CreateLogonTask(setup, kAfterburnerTask, afterburner, profile1 ? L"-profile1 /s" : L"/s")) {
        LogInfo(L"Could not create the Afterburner logon task. Start with Windows is still set in its config.");
    } else {
        LogInfo(profile1 ? L"Afterburner will start at logon and apply profile 1."
                         : L"Afterburner will start at logon and apply its startup settings.");
    }
    if (!rtss.empty() && CreateLogonTask(setup, kRivaTunerTask, rtss, L"")) LogInfo(L"RivaTuner will start at logon.");
    if (feed != nullptr) feed->Progress(1.0, 0, 0);
    return true;
}
