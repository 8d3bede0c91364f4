#pragma once
// A process's environment as Windows hands it to a child: "NAME=value" strings, each ended by a
// null, the whole ended by one more. Pure, so the exact block a child gets can be pinned.
#include <string>
#include <string_view>

// The block with the variable set to the value: an existing one (names compared without regard
// to case, as Windows does) is replaced, otherwise it is added. Entries stay in their order.
std::wstring WithVariable(std::wstring_view block, std::wstring_view name, std::wstring_view value);
// The value of the variable in the block; empty when absent.
std::wstring VariableIn(std::wstring_view block, std::wstring_view name);

// What a child is told about the machine and its account, every value from the system itself
// (known folders, the token's profile), never from this process's environment.
struct ChildPlaces {
    std::wstring systemFolder;   // System32
    std::wstring windowsFolder;  // the Windows folder
    std::wstring temp;           // the child's own temporary folder
    std::wstring programData;
    std::wstring profile;        // the account's profile folder; empty when it has none
    std::wstring userName;
};
// The environment every child gets: the machine's own variables (those only administrators set)
// with a PATH of the system's folders only, TEMP and TMP in the child's own folder, PowerShell's
// modules from the system's folder, and the account's profile folders. Nothing of the caller's
// environment: any user can set variables that load code into a process (a .NET profiler) or
// steer where it looks for programs and writes its files.
std::wstring ChildBlock(std::wstring_view systemBlock, const ChildPlaces& places);
