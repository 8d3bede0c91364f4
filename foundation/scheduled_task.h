#pragma once
// Registering the program's scheduled tasks with the system's own schtasks, from a full task
// definition rather than command-line switches: the definition names the account, its session
// and its rights exactly, and needs no password.
#include <string>
#include <vector>

#include "foundation/task_xml.h"

// The account logged on in this process's session (the one at the desktop), even when this
// process runs elevated as another administrator: "DOMAIN\user". Empty when it cannot be told.
std::wstring InteractiveAccount();

// Whether the account ("DOMAIN\user") is in the Administrators group, directly or through
// another group: only then does "highest available" give its sign-in tasks administrator rights.
// True when it cannot be told, so nothing is refused on a guess.
bool AccountIsAdministrator(const std::wstring& account);

// Registers the task under the name, replacing one of that name, through "schtasks /Create /F
// /TN <name> /XML <file>" with the definition in a file made new in the protected data folder.
// False, with the words for the user, when schtasks refused it.
bool RegisterScheduledTask(const std::wstring& schtasks, const std::wstring& name, const ScheduledTaskDefinition& task,
                           std::wstring& error);

// The state value that says this program registered the task (written before it is), so the
// uninstall and the ledger know it is ours to take away.
std::wstring OwnTaskRecord(const std::wstring& name);

// The boot task that re-applies hardened settings as SYSTEM.
inline constexpr const wchar_t* kGuardTask = L"Quorvantis Guard";

// The logon task that starts the window in the tray for one account ("DOMAIN\\user"), at the
// highest run level from the installed copy: "Quorvantis Tray (user)".
std::wstring TrayTaskName(const std::wstring& account);
// Every tray task this program registered, for any account (on record in the state key).
std::vector<std::wstring> RecordedTrayTasks();
