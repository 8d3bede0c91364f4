#pragma once
// Every command the program knows, in one table: the switches that choose it, the rights and the
// lock it needs, what runs it and its lines in the usage text. Parsing, the rights check, the
// dispatch and the usage text all read this table, so a new command is one row and one handler.
#include <span>
#include <string>
#include <vector>

struct Options;

enum class CommandRights : unsigned char {
    Anyone,          // reads nothing privileged and changes nothing
    Administrator,   // relaunches itself elevated first
    ServiceManager,  // started by the service control manager, before any other check
};

using CommandHandler = int (*)(const Options& options, const std::vector<std::wstring>& arguments);

struct CommandRow {
    const wchar_t* word;         // stored in Options::command; empty for the default flow
    const wchar_t* switches[3];  // the first names the command in messages; unused slots are null
    CommandRights rights;
    bool locked;                 // runs one at a time, machine-wide, never beside the window
    CommandHandler handler;
    const wchar_t* usage;        // its lines of the usage text, which lists the rows in this order
};

std::span<const CommandRow> Commands();
// The row a command-line switch chooses, or null.
const CommandRow* CommandForSwitch(const std::wstring& argument);
// The row of a command word, or null.
const CommandRow* CommandForWord(const std::wstring& word);
// The usage lines of every row, in table order.
std::wstring CommandUsageLines();
