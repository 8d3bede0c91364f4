#pragma once
// Vendor installers and tools (7-Zip, setups, pnputil, schtasks) started and waited for within a
// time limit.
#include <cstdint>
#include <string>

struct InstallerRunResult {
    bool started = false;
    bool timedOut = false;
    uint32_t exitCode = 0xFFFFFFFF;
    uint32_t startError = 0;  // the system's error when the process could not be created
};
// A program path or working folder with a double quote is refused (not started).
InstallerRunResult RunInstaller(const std::wstring& program, const std::wstring& commandLine, const std::wstring& workingFolder,
                                uint32_t timeLimitMs, bool killOnTimeout, bool noConsoleWindow);
