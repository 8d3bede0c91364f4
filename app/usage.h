#pragma once
#include <string>

// The usage text with the version, publisher, web address and the given log path filled in.
std::wstring UsageText(const std::wstring& logPath);
// Prints the usage text to standard output in one write (not to the log).
void PrintUsage();
