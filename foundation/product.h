#pragma once
// Names and addresses that identify this build to users; kept in one place so a rebrand or a
// new release touches only this header and the version resource.

#define QV_VERSION_TEXT L"2.6.2"

inline constexpr const wchar_t* kProductName = L"Quorvantis";
inline constexpr const wchar_t* kVersionText = QV_VERSION_TEXT;
inline constexpr const wchar_t* kPublisherName = L"Fenmarch Systems";
inline constexpr const wchar_t* kPublisherWebAddress = L"https://www.fenmarch.com/quorvantis";
inline constexpr const wchar_t* kPublisherWebHost = L"www.fenmarch.com";

// Shown only on a console this program allocated itself (two spaces around the middle dot).
inline constexpr const wchar_t* kConsoleTitle = L"Quorvantis  \u00B7  Fenmarch Systems";

// Where earlier releases started the tray at sign-in (HKCU); now a sign-in task does, and the old
// value is only ever removed.
inline constexpr const wchar_t* kOldRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kOldRunValue = L"Quorvantis";
