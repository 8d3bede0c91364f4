#pragma once
// Every message of every role goes through LogInfo or LogError: to the console when one is
// attached, to the shared log file, and to the current thread's feed.
#include <string>

void LogInfo(const std::wstring& text);
void LogError(const std::wstring& text);  // the log and the feed get "ERROR: " + text

// One timestamped line in the log file (UTF-8, CR LF); lines from different threads never mix.
void AppendLogLine(const std::wstring& text);

// One "health" line in the same file, cut to 767 characters; no console, no feed, no lock.
void AppendHealthLog(const std::wstring& text);

std::wstring LogFilePath();

// The newest LogError text of this process (empty when none): a machine-readable answer names
// the failure in its own field.
std::wstring LastLoggedError();
