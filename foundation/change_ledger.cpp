#include "foundation/change_ledger.h"

#include "foundation/text.h"

ChangeState JudgeRecorded(const ChangeRow& row) {
    if (!row.currentRead) return ChangeState::Unreadable;
    if (row.current == row.ours) return ChangeState::StillOurs;
    if (row.recorded && row.current == row.original) return ChangeState::AlreadyRestored;
    return ChangeState::ChangedSince;
}

ChangeState JudgePlanned(const ChangeRow& row) {
    if (!row.currentRead) return ChangeState::Unreadable;
    return row.current == row.ours ? ChangeState::AlreadySet : ChangeState::WouldChange;
}

const wchar_t* ChangeStateText(ChangeState state) {
    switch (state) {
    case ChangeState::StillOurs: return L"still ours";
    case ChangeState::ChangedSince: return L"changed since by someone else";
    case ChangeState::AlreadyRestored: return L"already restored";
    case ChangeState::WouldChange: return L"would change";
    case ChangeState::AlreadySet: return L"already set";
    case ChangeState::Unreadable: return L"could not be read";
    case ChangeState::AccountAway: return L"cannot be read: account not signed in";
    case ChangeState::Gone: return L"gone: nothing to put back";
    case ChangeState::LeftAlone: return L"left alone";
    case ChangeState::OneWayMade: return L"one-way";
    }
    return L"";
}

const wchar_t* ChangeStateKey(ChangeState state) {
    switch (state) {
    case ChangeState::StillOurs: return L"still-ours";
    case ChangeState::ChangedSince: return L"changed-since";
    case ChangeState::AlreadyRestored: return L"already-restored";
    case ChangeState::WouldChange: return L"would-change";
    case ChangeState::AlreadySet: return L"already-set";
    case ChangeState::Unreadable: return L"unreadable";
    case ChangeState::AccountAway: return L"account-not-signed-in";
    case ChangeState::Gone: return L"gone";
    case ChangeState::LeftAlone: return L"left-alone";
    case ChangeState::OneWayMade: return L"one-way-made";
    }
    return L"";
}

std::wstring ChangeStateLine(const ChangeRow& row) {
    switch (row.state) {
    case ChangeState::AccountAway:
        return FormatText(L"cannot be read: account %ls is not signed in", row.reason.c_str());
    case ChangeState::Gone:
        return FormatText(L"gone (%ls): nothing to put back", row.reason.c_str());
    case ChangeState::LeftAlone:
        return row.reason.empty() ? std::wstring(L"left alone") : L"left alone: " + row.reason;
    case ChangeState::OneWayMade:
        return FormatText(L"one-way, made %ls; --uninstall leaves it", row.reason.c_str());
    default:
        return ChangeStateText(row.state);
    }
}

bool PutBackOnRestore(const ChangeRow& row) {
    if (!row.recorded || row.keeping != ChangeKeeping::Recorded) return false;
    return row.state == ChangeState::StillOurs || row.state == ChangeState::ChangedSince ||
           row.state == ChangeState::Unreadable;
}

std::vector<std::wstring> ChangeSteps(const std::vector<ChangeRow>& rows) {
    std::vector<std::wstring> steps;
    for (const ChangeRow& row : rows) {
        bool seen = false;
        for (const std::wstring& step : steps) seen = seen || step == row.step;
        if (!seen) steps.push_back(row.step);
    }
    return steps;
}

namespace {

std::wstring CurrentText(const ChangeRow& row) { return row.currentRead ? row.current : std::wstring(L"(could not be read)"); }

// The state after the values, unless it would only repeat that the value could not be read.
std::wstring StateSuffix(const ChangeRow& row) {
    return row.state == ChangeState::Unreadable ? std::wstring() : L"  \u00b7  " + ChangeStateLine(row);
}

// "  gpu.HAGS: HKLM\...\HwSchMode"
std::wstring Heading(const ChangeRow& row) {
    return L"  " + (row.id.empty() ? row.setting : row.id + L": " + row.setting) + L"\n";
}

// How each kind of keeping is spelled in JSON, and what a preview adds to its row.
struct KeepingWords {
    ChangeKeeping keeping;
    const wchar_t* key;
    const wchar_t* note;
};
constexpr KeepingWords kKeepings[] = {
    {ChangeKeeping::Recorded, L"recorded", L""},
    {ChangeKeeping::OneWay, L"one-way", L"  \u00b7  one-way: --uninstall leaves it"},
    {ChangeKeeping::Temporary, L"temporary", L"  \u00b7  temporary: put back at once"},
    {ChangeKeeping::Own, L"own", L"  \u00b7  the program's own: --uninstall removes it"},
};

const KeepingWords& WordsOf(ChangeKeeping keeping) {
    for (const KeepingWords& words : kKeepings) {
        if (words.keeping == keeping) return words;
    }
    return kKeepings[0];
}

std::wstring KeepingNote(const ChangeRow& row) { return WordsOf(row.keeping).note; }

}  // namespace

std::wstring LedgerText(const std::vector<ChangeRow>& rows, const std::vector<std::wstring>& uninstall) {
    std::wstring text;
    if (rows.empty()) text += L"Quorvantis holds no record of a changed setting.\n";
    for (const std::wstring& step : ChangeSteps(rows)) {
        text += L"\n" + step + L"\n";
        for (const ChangeRow& row : rows) {
            if (row.step != step) continue;
            text += Heading(row);
            const std::wstring was = row.recorded ? row.original : std::wstring(L"(not recorded)");
            if (row.state == ChangeState::OneWayMade) {
                text += L"      was " + was + L"  \u00b7  set to " + row.ours + StateSuffix(row) + L"\n";
                continue;
            }
            text += L"      was " + was + L"  \u00b7  now " + CurrentText(row) + L"  \u00b7  ours " + row.ours +
                    StateSuffix(row) + L"\n";
        }
    }
    text += L"\n--uninstall would:\n";
    for (const std::wstring& line : uninstall) text += L"  " + line + L"\n";
    return text;
}

std::wstring WhatIfText(const std::vector<ChangeRow>& rows, const std::vector<std::wstring>& notes) {
    std::wstring text;
    if (rows.empty()) text += L"The selected steps would write nothing.\n";
    for (const std::wstring& step : ChangeSteps(rows)) {
        text += L"\n" + step + L"\n";
        for (const ChangeRow& row : rows) {
            if (row.step != step) continue;
            text += Heading(row);
            if (row.state == ChangeState::LeftAlone) {
                text += L"      now " + CurrentText(row) + StateSuffix(row) + L"\n";
                continue;
            }
            text += L"      now " + CurrentText(row) + L"  \u2192  " + row.ours + StateSuffix(row) + KeepingNote(row);
            text += row.recorded ? L"  \u00b7  on record already (original " + row.original + L" kept)\n"
                                 : std::wstring(L"\n");
        }
    }
    if (!notes.empty()) text += L"\n";
    for (const std::wstring& note : notes) text += note + L"\n";
    text += L"\nNothing was changed.\n";
    return text;
}

Json ChangeStepsJson(const std::vector<ChangeRow>& rows, bool planned) {
    Json steps = Json::Array();
    for (const std::wstring& step : ChangeSteps(rows)) {
        Json changes = Json::Array();
        for (const ChangeRow& row : rows) {
            if (row.step != step) continue;
            Json change = Json::Object();
            change.Set("id", row.id);
            change.Set("setting", row.setting);
            change.Set("keeping", WordsOf(row.keeping).key);
            change.Set("recorded", row.recorded);
            change.Set("original", row.recorded ? Json(row.original) : Json());
            change.Set("current", row.currentRead ? Json(row.current) : Json());
            change.Set(planned ? "would_write" : "written", row.ours);
            change.Set("state", ChangeStateKey(row.state));
            change.Set("reason", row.reason.empty() ? Json() : Json(row.reason));
            changes.Push(std::move(change));
        }
        steps.Push(Json::Object().Set("step", step).Set("changes", std::move(changes)));
    }
    return steps;
}
