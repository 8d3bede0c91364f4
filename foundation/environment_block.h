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
