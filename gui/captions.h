#pragma once
// What the header says about each stage, and which step slot a stage shows.

struct StepCaption {
    int number;  // 0: not a numbered step
    const wchar_t* name;
    const wchar_t* tagline;
};
StepCaption CaptionOf(int stageValue);
inline constexpr int kStepCount = 10;

// The slot whose snapshot a stage's screen draws from, or -1 for the screens of their own.
int SlotShownBy(int stageValue);
