#include "gui/screen_actions.h"

#include "foundation/log.h"
#include "foundation/system.h"

void ScreenActions::OpenHealth(bool scan) {
    p_.workflow.SetStage(stage::Health);
    if (scan) p_.monitor.StartScan();
    p_.feeds.ReadChanges();
}

void ScreenActions::OpenHomeTile(int index) {
    if (index == kHealthTile) OpenHealth(true);
    else p_.flow.OpenHomeTile(index);
}

void ScreenActions::OpenLog() {
    // Notepad is never started with our rights; where it cannot be started as the user at the
    // desk, the path is what they get.
    if (!OpenInNotepad(p_.hooks.logPath)) p_.questions.Ask(L"The log is at " + p_.hooks.logPath + L".", MB_OK | MB_ICONINFORMATION);
}

void ScreenActions::RestartComputer() {
    if (!p_.hooks.restart) return;
    std::wstring error;
    if (!p_.hooks.restart(L"Quorvantis: restarting. In BIOS, lock the CPU multiplier, disable deep C-states, enable XMP "
                          L"or DOCP, and turn on Above 4G if you want Resizable BAR.",
                          error)) {
        LogError(L"Windows did not restart: " + error);
        p_.questions.Ask(L"Windows did not restart: " + error + L" Restart from the Start menu to finish.", MB_OK | MB_ICONWARNING);
    }
}

void ScreenActions::OpenGameCheck() {
    p_.workflow.SetStage(stage::GameCheck);
    p_.game.RefreshPrograms();
}

void ScreenActions::ChoosePresentMon() {
    if (!p_.hooks.choosePresentMon) return;
    // A dialog has its own message loop: after the frame, never inside one.
    p_.questions.Later([this] {
        const std::wstring path = p_.hooks.choosePresentMon(p_.host.Window());
        if (!path.empty()) p_.game.SetPresentMon(path);
    });
}
