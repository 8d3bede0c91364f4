#pragma once
// The Task Scheduler's task definition (its XML schema) for the tasks the program registers: the
// guard at boot as SYSTEM, and the logon tasks that start a program for the user who logs on.
// Pure, so the exact document can be pinned by tests.
#include <string>

struct ScheduledTaskDefinition {
    enum class Start { AtBoot, AtLogon };
    Start start = Start::AtLogon;
    // Whose task it is: "S-1-5-18" (SYSTEM), or the account ("DOMAIN\user") whose logon starts it
    // and whose interactive session it runs in.
    std::wstring account;
    // With the highest rights the account has (schtasks' "/RL HIGHEST"): a program that asks for
    // administrator rights at start is refused silently by a task without it.
    bool highest = true;
    std::wstring description;
    std::wstring command;    // the program's full path
    std::wstring arguments;  // as given on its command line
};

inline constexpr const wchar_t* kSystemAccount = L"S-1-5-18";

// The whole document, to be saved as UTF-16 with its byte-order mark.
std::wstring ScheduledTaskXml(const ScheduledTaskDefinition& task);

// Text escaped for an XML element: & < > " and ' as entities.
std::wstring XmlEscaped(const std::wstring& text);
