#pragma once
// The fixed decisions every caller shares when touching Windows: where files live, registry
// DWORD access, GUID text, and how child processes are started, timed out and quoted.
#include <guiddef.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The program's folders under the system's known folders (never from the environment, which a
// standard user controls); nothing is created.
std::wstring DataDirectory();     // ProgramData\Quorvantis
std::wstring InstallDirectory();  // Program Files\Quorvantis
std::wstring InstalledExePath();  // InstallDirectory()\Quorvantis.exe

// The system's own folders, never from the environment; empty when the system cannot say.
enum class SystemFolder { ProgramData, ProgramFiles, ProgramFilesX86 };
std::wstring SystemFolderPath(SystemFolder folder);
// The drive Windows runs from, as "X:" (from the system's own Windows folder).
std::wstring SystemDrive();
// For tests and benchmarks in this process only: other roots for the two folders (empty: the
// system's). The program never calls it.
void OverrideProgramFolders(const std::wstring& dataRoot, const std::wstring& programFilesRoot);

// HKLM key of the kernel's own switches (global timer requests, threaded DPCs).
inline constexpr const wchar_t* kKernelKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\kernel";

bool FileExists(const std::wstring& path);
// Case-insensitive, as Windows compares paths.
bool SamePath(const std::wstring& a, const std::wstring& b);
// This executable's full path read into the given number of characters; empty when the call
// fails or the path does not fit (a cut path names some other file).
std::wstring RunningExecutablePath(size_t capacity);

// The argument list as given, with "--elevated" appended last.
std::vector<std::wstring> WithElevatedFlag(const std::vector<std::wstring>& arguments);

// Users: HKEY_USERS, whose subkeys start with an account's SID ("S-1-5-21-...\\Software\\...").
enum class RegRoot { LocalMachine, CurrentUser, Users };

// Creates the key (and missing parents) and sets a REG_DWORD.
bool WriteDword(RegRoot root, const std::wstring& subkey, const std::wstring& name, uint32_t value);
// HKEY_LOCAL_MACHINE only; a value of any other type reads as missing.
bool ReadDword(const std::wstring& subkey, const std::wstring& name, uint32_t& value);
// REG_SZ with its terminating null counted in the stored size.
bool WriteString(RegRoot root, const std::wstring& subkey, const std::wstring& name, const std::wstring& value);
bool ReadString(RegRoot root, const std::wstring& subkey, const std::wstring& name, std::wstring& value);
bool ReadDwordIn(RegRoot root, const std::wstring& subkey, const std::wstring& name, uint32_t& value);

// A registry value exactly as stored: its type and every byte, whatever the type or size.
struct RegistryValue {
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const RegistryValue&) const = default;
};
// False when the value (or its key) does not exist or cannot be read.
bool ReadRawValue(RegRoot root, const std::wstring& subkey, const std::wstring& name, RegistryValue& value);
// Creates the key (and missing parents) and stores the type and bytes unchanged.
bool WriteRawValue(RegRoot root, const std::wstring& subkey, const std::wstring& name, const RegistryValue& value);
// True when the value is gone afterwards: deleted now, or never there (its key included).
bool DeleteRegistryValue(RegRoot root, const std::wstring& subkey, const std::wstring& name);
bool RegistryKeyExists(RegRoot root, const std::wstring& subkey);
// The key exists but this account may not read it.
bool RegistryKeyRefused(RegRoot root, const std::wstring& subkey);
// The shortest leading part of the path that does not exist yet (the key a write would create
// first); empty when the whole key exists.
std::wstring FirstMissingKey(RegRoot root, const std::wstring& subkey);
// Deletes the key and then each parent while they are empty (no values, no subkeys), going no
// higher than the given top key. Used to take away keys that a write once created.
void RemoveEmptyKeysUpTo(RegRoot root, const std::wstring& subkey, const std::wstring& top);
// Names of every value directly under the key (empty when it cannot be opened).
std::vector<std::wstring> RegistryValueNames(RegRoot root, const std::wstring& subkey);

// This process's account as a SID string ("S-1-5-21-..."); empty when it cannot be read.
std::wstring CurrentAccountSid();
// "DOMAIN\\user" for a SID string, or the SID itself when the system cannot name it.
std::wstring AccountNameOfSid(const std::wstring& sid);
// Whether the account's registry hive is loaded (it is while the account is signed in).
bool AccountHiveLoaded(const std::wstring& sid);

// Upper-case 8-4-4-4-12 form without braces.
std::wstring GuidText(const GUID& guid);

// The system folder (System32), never from the environment; empty when the system cannot say.
std::wstring SystemDirectory();
// The system directory, a backslash and the tool's file name (e.g. "wbem\\wmic.exe"); empty
// when the system folder cannot be read, so that nothing is started by a path relative to
// whatever drive or folder is current.
std::wstring SystemToolPath(const std::wstring& toolFileName);
std::wstring PowerShellPath();

// Exit result of a child: its exit code; 258 when it was killed after the timeout; the Windows
// error code (never 0) when it could not be started.
inline constexpr uint32_t kChildTimedOut = 258;
// Every child starts as child_process.h says: its own environment and temporary folder, the
// system folder as its current folder, and a full path or nothing.
uint32_t RunProcess(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs);
// The same, ended early when the stop flag is raised: the child is killed and kChildStopped returned.
inline constexpr uint32_t kChildStopped = 1223;  // ERROR_CANCELLED
uint32_t RunProcessUntil(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs,
                         const std::atomic<bool>* stop);
// Whether a process with this file name (e.g. "game.exe", compared without regard to case) runs.
bool ProcessRunning(const std::wstring& exeName);
// The file names of the programs with a visible window of their own on the desktop, this one
// left out, sorted without regard to case and each once: the programs a game could be.
std::vector<std::wstring> ProgramsWithWindows();
// PowerShell from the system folder, without the user's profile scripts and with only the
// system's module folders to load modules from: a module named like a system one in the user's
// Documents must never load into this elevated process.
uint32_t RunPowerShell(const std::wstring& command, uint32_t timeoutMs);
std::wstring CapturePowerShell(const std::wstring& command);
uint32_t RunPowercfg(const std::wstring& arguments);
// Standard output and error of the child, first 2047 bytes, from the OEM code page; empty on failure.
std::wstring RunCapture(const std::wstring& executable, const std::wstring& arguments);
// Asks Windows to restart at once (a planned reconfiguration), with the message on screen until
// it does. False with Windows' own words for the refusal (a shutdown already under way, no right).
bool RestartWindows(const std::wstring& message, std::wstring& error);

// Opens a text file in the system's own Notepad, by its full path (the user's file associations
// would let any program they chose run), as the desktop's unelevated user. False when it cannot
// be started that way; then nothing is started.
bool OpenInNotepad(const std::wstring& file);

// The program runs elevated, as LocalSystem and as SYSTEM: it loads libraries from the system
// folder only, never from beside itself (a Downloads folder) or the current directory.
void RestrictDllSearchToSystemFolder();
// Makes the system folder this process's current folder: false when it cannot be read.
bool SetWorkingFolderToSystemFolder();
// LoadLibraryExW restricted to the system folder; null when the library is not there.
void* LoadSystemLibrary(const wchar_t* fileName);

// Asks Windows to keep honouring this process's timer-resolution requests even without a
// visible window. Does nothing on systems that lack the call.
void KeepResolutionRequestsHonoured();
