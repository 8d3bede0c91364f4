#pragma once
// How the window tells of an update: a balloon and a blinking tray icon once the check has found
// one, the question with its notes when the user asks (or clicks the balloon), and the apply's
// failure. The threads are AppUpdater's; this runs on the window's thread.
#include <windows.h>

#include <string>

#include "gui/app_updater.h"
#include "gui/gui_hooks.h"
#include "gui/questions.h"
#include "gui/tray_icon.h"
#include "gui/window_host.h"

// Posted by the update threads when they have an answer, so it is told while the window is hidden.
inline constexpr UINT kUpdateCheckedMessage = WM_APP + 4;
inline constexpr UINT_PTR kBlinkTimer = 8;  // the tray icon's update blink

class UpdateNotice {
public:
    UpdateNotice(const GuiHooks& hooks, Questions& questions, TrayIcon& tray, WindowHost& host);
    UpdateNotice(const UpdateNotice&) = delete;
    UpdateNotice& operator=(const UpdateNotice&) = delete;

    // Asks the publisher on its own thread; the answer comes as kUpdateCheckedMessage.
    void StartCheck();
    // On each tick and on kUpdateCheckedMessage: announces a found update once, queues the
    // apply's failure and, when asked for, the question whose yes starts the apply.
    void Handle();
    void RequestPrompt() { promptRequested_ = true; }
    // The blink timer: true when the tray icon must be redrawn.
    bool Blink();
    bool Mode() const { return mode_; }
    bool Dim() const { return mode_ && dim_; }
    bool Checked() const { return updater_.Checked(); }
    bool Applying() const { return updater_.Applying(); }
    bool Applied() const { return updater_.Applied(); }
    void Stop() { updater_.Stop(); }

private:
    const GuiHooks& hooks_;
    Questions& questions_;
    TrayIcon& tray_;
    WindowHost& host_;
    AppUpdater updater_;
    bool announced_ = false;
    bool mode_ = false;
    bool dim_ = false;
    bool promptRequested_ = false;
};
