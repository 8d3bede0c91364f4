#pragma once
// The Afterburner step: MSI Afterburner and RivaTuner installed when missing, configured to start
// with Windows, the overclock scanner driven from outside on NVIDIA hardware, the scanned curve
// copied onto profile 1, and two logon tasks that apply it at every sign-in.
#include <cstdint>
#include <functional>
#include <string>

class Feed;
struct DriverTools;
typedef struct HWND__* HWND;

// Where the step's outside world is. The product's is fixed; tests pass their own.
struct AfterburnerSetup {
    const DriverTools* driverTools = nullptr;  // the vendor fetch and 7-Zip
    std::wstring programFilesX86;              // holds "MSI Afterburner" and "RivaTuner Statistics Server"
    // Where each installer records the program it installed ("InstallPath", the program's full
    // path), under HKLM in the 32-bit view: a user may have chosen another folder.
    std::wstring afterburnerKey;
    std::wstring rtssKey;
    std::wstring archivePath;                  // on the Afterburner mirror host
    std::wstring archiveSha256;
    std::wstring schtasks;
    // Whether the account is an administrator (AccountIsAdministrator): for a standard account
    // "highest available" is a standard token, which can never start Afterburner.
    std::function<bool(const std::wstring& account)> isAdministrator;
    std::wstring nvapi;  // present when an NVIDIA driver is installed
    // The scanner's status line: the UI Automation name of the element with automation id 1007.
    std::function<std::wstring(HWND scannerWindow)> readStatus;
};
const AfterburnerSetup& ProductAfterburnerSetup();

inline constexpr const wchar_t* kAfterburnerTask = L"Quorvantis Afterburner";
inline constexpr const wchar_t* kRivaTunerTask = L"Quorvantis RivaTuner";

// Where the installer said it put the program, else the default folder; empty when not installed.
std::wstring AfterburnerExecutable(const AfterburnerSetup& setup);
std::wstring RtssExecutable(const AfterburnerSetup& setup);

// The step; on failure error holds the text for the user ("Stopped." when cancelled).
bool InstallAfterburner(const AfterburnerSetup& setup, Feed* feed, std::wstring& error);

// Drives the scanner; true when the scanned curve reached profile 1. Cancelling sets "Stopped.".
bool RunOcScanner(const AfterburnerSetup& setup, const std::wstring& afterburner, const std::wstring& scanner, Feed* feed,
                  std::wstring& error);
// Asks the running Afterburner (process id) to apply its current settings; true when acknowledged.
bool ApplyCurveThroughSharedMemory(uint32_t afterburnerProcess, std::string& identifier);
// Copies the Startup curve onto profile 1 in the GPU's profile file.
bool CopyScannedCurve(const std::wstring& afterburnerFolder, const std::string& identifier, std::wstring& resultLine);

// A logon task for the user at this desktop, with the highest run level, starting the program.
bool CreateLogonTask(const AfterburnerSetup& setup, const std::wstring& name, const std::wstring& program, const std::wstring& arguments);

// The real status reader (UI Automation).
std::wstring ReadScannerStatus(HWND scannerWindow);
