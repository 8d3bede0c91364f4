#pragma once
// A frame capture tool's CSV: one row per frame the game presented, read by column name so the
// tool's current column set and its older one both work. The frame time is the current set's
// "MsBetweenAppStart" (CPU start to CPU start), else the 2.x set's "FrameTime", else the time
// between presents ("MsBetweenPresents", the 1.x set and still written today). Rows of other
// processes and rows without a number ("NA") are left out. Pure.
#include <string>
#include <string_view>
#include <vector>

struct FrameCapture {
    std::vector<double> frameMs;  // in the order presented
    std::wstring column;          // the column the frame times came from
    size_t skippedRows = 0;       // rows without a usable frame time
};

// False, with the reason, when the text has no header with a frame-time column or no frame of
// the application (compared without regard to case; empty takes every row).
bool ParseFrameCapture(std::string_view csv, std::wstring_view application, FrameCapture& capture, std::wstring& error);
