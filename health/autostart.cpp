#include "health/autostart.h"

#include <windows.h>

#include "foundation/product.h"
#include "foundation/protected_folder.h"
#include "foundation/scheduled_task.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "health/guard.h"

namespace {

// The account whose settings say to start with Windows: this process's own, which is also whose
// registry hive the settings live in (an administrator elevating for someone else at the desk
// starts her own tray, not his).
std::wstring OwnAccount() { return AccountNameOfSid(CurrentAccountSid()); }

bool OldRunValue() {
    std::wstring value;
    return ReadString(RegRoot::CurrentUser, kOldRunKey, kOldRunValue, value);
}

}  // namespace

bool SetLaunchAtLogin(bool on, std::wstring& error) {
    error.clear();
    DeleteRegistryValue(RegRoot::CurrentUser, kOldRunKey, kOldRunValue);
    const std::wstring account = OwnAccount();
    const std::wstring name = TrayTaskName(account);
    const std::wstring schtasks = SystemToolPath(L"schtasks.exe");
    if (!on) {
        if (StateValueExists(OwnTaskRecord(name))) {
            RunProcess(schtasks, FormatText(L"/Delete /F /TN \"%ls\"", name.c_str()), 15000);
            DeleteRegistryValue(RegRoot::LocalMachine, kStateKey, OwnTaskRecord(name));
        }
        return true;
    }
    const std::wstring installed = InstalledExePath();
    if (!PlaceInstalledCopy(installed)) {
        error = FormatText(L"Quorvantis could not be copied to %ls, so it will not start with Windows.", installed.c_str());
        return false;
    }
    if (!ProgramIsProtected(installed)) {
        error = FormatText(L"Users other than administrators can change %ls, so Quorvantis will not start it with "
                           L"administrator rights when you sign in.",
                           installed.c_str());
        return false;
    }
    ScheduledTaskDefinition task;
    task.start = ScheduledTaskDefinition::Start::AtLogon;
    task.account = account;
    task.highest = true;
    task.description = L"Starts Quorvantis in the notification area when you sign in.";
    task.command = installed;
    WriteStateDword(OwnTaskRecord(name), 1);
    if (!RegisterScheduledTask(schtasks, name, task, error)) {
        error = L"Quorvantis will not start with Windows: " + error;
        return false;
    }
    return true;
}

bool LaunchAtLoginNeedsRepair(bool on) {
    if (OldRunValue()) return true;
    return on && !StateValueExists(OwnTaskRecord(TrayTaskName(OwnAccount())));
}
