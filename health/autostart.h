#pragma once
// "Start with Windows": the window starts in the tray when its account signs in, through a logon
// task at the highest run level that runs the installed copy under Program Files. A Run value
// would start whatever copy set it (one in Downloads that anyone could replace) and ask for
// elevation at every sign-in.
#include <string>

// On: puts the installed copy in place if it is missing and registers this account's task,
// on record before it is made. Off: deletes the task this program made. Either way a Run value
// an older build wrote goes. False, with the words for the user, when the task could not be made.
bool SetLaunchAtLogin(bool on, std::wstring& error);
// Whether "Start with Windows" is on but this account has no task of ours yet, or an older
// build's Run value is still there.
bool LaunchAtLoginNeedsRepair(bool on);
