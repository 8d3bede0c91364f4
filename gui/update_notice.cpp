#include "gui/update_notice.h"

UpdateNotice::UpdateNotice(const GuiHooks& hooks, Questions& questions, TrayIcon& tray, WindowHost& host)
    : hooks_(hooks), questions_(questions), tray_(tray), host_(host) {}

void UpdateNotice::StartCheck() {
    // Announced at once, even while the window waits hidden in the tray.
    updater_.StartCheck(hooks_.checkUpdate, [this] { host_.Post(kUpdateCheckedMessage); });
}

bool UpdateNotice::Blink() {
    if (!mode_) return false;
    dim_ = !dim_;
    return true;
}

void UpdateNotice::Handle() {
    if (!updater_.Checked() || updater_.Applying()) return;
    AppUpdate found;
    const bool available = updater_.Found(found);
    if (available && !announced_) {
        announced_ = true;
        mode_ = true;
        if (host_.Window() != nullptr) SetTimer(host_.Window(), kBlinkTimer, 450, nullptr);
        tray_.Balloon(L"Quorvantis update", L"Version " + found.version + L" is ready. Open Quorvantis to install it.", NIIF_INFO);
    }
    std::wstring failure;
    if (updater_.TakeFailure(failure)) questions_.TellLater(failure, MB_ICONWARNING);
    if (!promptRequested_ || !available) return;
    promptRequested_ = false;
    std::wstring text = L"Quorvantis " + found.version + L" is available.\nThis copy is " + hooks_.version + L".";
    if (!found.notes.empty()) text += L"\n\n" + (found.notes.size() > 500 ? found.notes.substr(0, 500) + L"\u2026" : found.notes);
    const bool servicePresent = hooks_.systemInfo && hooks_.systemInfo().serviceState != TimerServiceState::NotInstalled;
    text += servicePresent ? L"\n\nDownload it and replace this copy, including the installed service? Quorvantis will "
                             L"close and open the new version."
                           : L"\n\nDownload it and replace this copy? Quorvantis will close and open the new version.";
    questions_.Later([this, text] {
        if (questions_.Ask(text, MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | MB_SETFOREGROUND) != IDYES) return;
        updater_.StartApply(
            hooks_.applyUpdate, [this] { host_.Close(); }, [this] { host_.Post(kUpdateCheckedMessage); });
    });
}
