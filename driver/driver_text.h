#pragma once
// The texts GPU Clean reads and writes: the NVIDIA lookup question and answer, the AMD package
// script, package file names, the INF search filters and the size and disk rules. Pure, so every
// answer a vendor might send can be tried without a network.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Every byte outside A-Z a-z 0-9 - . _ ~ as "%" and two upper-case hex digits.
std::string PercentEncode(std::string_view text);
// The path (on the lookup host) that asks NVIDIA for the driver of one device key.
std::wstring NvidiaLookupPath(const std::wstring& deviceKey, const std::wstring& osBuild, bool laptop);
// The digits of the build number, or "22621" when there are none.
std::wstring OsBuildText(const std::wstring& currentBuildNumber);

struct NvidiaAnswer {
    bool found = false;  // the answer has driver attributes
    std::wstring version, name, url;
};
// The driver the lookup service offers: the strings beside "DriverAttributes" in the first object
// that has it. An answer that is not whole JSON names nothing.
NvidiaAnswer ParseNvidiaAnswer(std::string_view body);

// The value after the first occurrence of the name in the package script: the text between the
// first quote (single or double) after it and the next quote of the same kind; empty when missing.
std::string ScriptValue(std::string_view script, std::string_view name);
// The version inside an AMD package address ("...edition-24.12.1-..."), or empty.
std::wstring AmdVersionFromUrl(const std::wstring& url);

// The name a package is saved under, taken from its address.
std::wstring PackageFileName(const std::wstring& url);

// INF search: directory names never entered, and whether a file's bytes name AMD's display driver.
bool InfDirectorySkipped(const std::wstring& name);
bool InfNamesAmdDisplayDriver(std::string_view bytes);
// Candidates in order: those under a "\display\" folder when any are, else all.
std::vector<std::wstring> InfCandidates(const std::vector<std::wstring>& infPaths);

// Exit codes: below 256 in decimal, others as 0x%08X.
std::wstring CodeText(uint32_t code);
bool DriverSetupSucceeded(uint32_t code);  // 0, 1 and 3010

// The size and disk rule: true when the package fits; otherwise the message for the user.
bool PackageFitsDisk(uint64_t size, bool freeKnown, uint64_t freeBytes, std::wstring& error);
// "About 687 MB." and the battery and other-adapter notes.
std::wstring OfferNotes(uint64_t size, bool laptop, const std::wstring& otherAdapter);

// 64 hex digits (either case) compared without regard to case.
bool SameDigest(std::wstring_view a, std::wstring_view b);
