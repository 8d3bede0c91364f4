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
    }
    return L"";
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
    return row.state == ChangeState::Unreadable ? std::wstring() : std::wstring(L"  \u00b7  ") + ChangeStateText(row.state);
}

}  // namespace

std::wstring LedgerText(const std::vector<ChangeRow>& rows, const std::vector<std::wstring>& uninstall) {
    std::wstring text;
    if (rows.empty()) text += L"Quorvantis holds no record of a changed setting.\n";
    for (const std::wstring& step : ChangeSteps(rows)) {
        text += L"\n" + step + L"\n";
        for (const ChangeRow& row : rows) {
            if (row.step != step) continue;
            text += L"  " + row.setting + L"\n";
            text += L"      was " + (row.recorded ? row.original : std::wstring(L"(not recorded)")) + L"  \u00b7  now " +
                    CurrentText(row) + L"  \u00b7  ours " + row.ours + StateSuffix(row) + L"\n";
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
            text += L"  " + row.setting + L"\n";
            text += L"      now " + CurrentText(row) + L"  \u2192  " + row.ours + StateSuffix(row);
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
            change.Set("setting", row.setting);
            change.Set("recorded", row.recorded);
            change.Set("original", row.recorded ? Json(row.original) : Json());
            change.Set("current", row.currentRead ? Json(row.current) : Json());
            change.Set(planned ? "would_write" : "written", row.ours);
            change.Set("state", ChangeStateKey(row.state));
            changes.Push(std::move(change));
        }
        steps.Push(Json::Object().Set("step", step).Set("changes", std::move(changes)));
    }
    return steps;
}
