#pragma once
// What the PagingFiles value under Memory Management says about the user's paging file: each
// entry is "<path> [<initial MB> <maximum MB>]", and "?:\pagefile.sys" means Windows manages the
// paging file on every drive. Pure, so every value Windows (or a tuning tool) may have left can
// be tried.
#include <string>
#include <string_view>
#include <vector>

enum class PagefileSetup {
    SystemManaged,  // automatic management is on
    Manual,         // the user chose: explicit sizes, or a drive of their own with automatic management off
    None,           // no paging file at all (and automatic management off)
};

// The entries of a REG_MULTI_SZ value as stored (UTF-16 code units, nulls between entries).
std::vector<std::wstring> MultiStringEntries(std::wstring_view stored);
PagefileSetup ClassifyPagingFiles(const std::vector<std::wstring>& entries);
// The entries as one line for the user ("C:\pagefile.sys 4096 8192; D:\pagefile.sys 0 0").
std::wstring PagingFilesText(const std::vector<std::wstring>& entries);
