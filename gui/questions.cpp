#include "gui/questions.h"

int Questions::Ask(const std::wstring& text, unsigned flags) const {
    return hooks_.ask ? hooks_.ask(text, flags) : MessageBoxW(owner_, text.c_str(), L"Quorvantis", flags);
}

void Questions::TellLater(const std::wstring& text, unsigned flags) {
    Later([this, text, flags] { Ask(text, flags); });
}

void Questions::AskQueued() {
    // A question may queue another (a confirmation after an answer): take the list first.
    std::vector<std::function<void()>> asking;
    asking.swap(queued_);
    for (const auto& question : asking) question();
}
