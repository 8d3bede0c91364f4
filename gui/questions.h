#pragma once
// Questions to the user in a message box, or to the hooks' answerer when tests or the unattended
// flow stand in for one. A question from inside a frame waits until the frame is shown, so a
// message box's own message loop never runs in the middle of one.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/gui_hooks.h"

class Questions {
public:
    explicit Questions(const GuiHooks& hooks) : hooks_(hooks) {}
    Questions(const Questions&) = delete;
    Questions& operator=(const Questions&) = delete;

    void SetOwner(HWND window) { owner_ = window; }
    // Asks now and returns the button pressed (IDYES, IDOK, ...).
    int Ask(const std::wstring& text, unsigned flags) const;
    // Asks once the frame is shown.
    void Later(std::function<void()> question) { queued_.push_back(std::move(question)); }
    void TellLater(const std::wstring& text, unsigned flags);
    // Asks the queued questions (the message loop does so after every frame).
    void AskQueued();

private:
    const GuiHooks& hooks_;
    HWND owner_ = nullptr;
    std::vector<std::function<void()>> queued_;
};
