#pragma once
// The self-update's texts: version numbers, the publisher's update list (a small JSON object),
// the download paths it may name and the text its signature covers. Pure, so every list a server
// might send can be tried without a network.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/app_update.h"

using Version = std::array<uint32_t, 4>;
// 1 to 4 dot-separated components of decimal digits, each at most 65535; 1 to 32 characters.
bool ParseVersion(std::wstring_view text, Version& version);
int CompareVersions(const Version& a, const Version& b);
// "%u.%u.%u" or, with a fourth component, "%u.%u.%u.%u".
std::wstring VersionText(const Version& version);

enum class ListError { None, NotJson, NotObject };
// The list's signatures: "signature" covers what older builds show and act on (version, url,
// sha256, size) and stays for them; "signature2" covers every field, the notes included, and is
// the one this build requires.
struct UpdateSignatures {
    std::wstring legacy;
    std::wstring full;
};
// Reads "version", "url", "notes", "sha256", "size", "signature" and "signature2"; every other
// value is skipped. Escapes are decoded, \uXXXX (surrogate pairs included) to UTF-8.
ListError ParseUpdateList(std::string_view json, AppUpdate& update, UpdateSignatures& signatures);

// "/Quorvantis.exe" or "/Quorvantis-<release>.exe", case-insensitive.
bool AllowedDownloadPath(std::wstring_view path);
// Spaces, tabs and line breaks removed, lower case; empty unless 64 hexadecimal digits remain.
std::wstring NormaliseSha256(std::wstring_view text);
// What "signature2" covers: every field of the list, one per line, the notes last.
std::string SignedUpdateText(const AppUpdate& update);
