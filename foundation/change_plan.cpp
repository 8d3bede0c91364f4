#include "foundation/change_plan.h"

#include <windows.h>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"

PlannedChange& StepPlan::Add(ChangeRow row, size_t item, std::function<void()> record, std::function<bool()> write) {
    row.step = step;
    changes.push_back(PlannedChange{std::move(row), item, std::move(record), std::move(write)});
    return changes.back();
}

void StepPlan::LeaveAlone(ChangeRow row, size_t item, const std::wstring& reason) {
    row.state = ChangeState::LeftAlone;
    row.reason = reason;
    Add(std::move(row), item, nullptr, nullptr);
}

std::vector<ChangeRow> StepPlan::Rows() const {
    std::vector<ChangeRow> rows;
    for (const PlannedChange& change : changes) rows.push_back(change.row);
    return rows;
}

std::wstring OneWayRecordName(const std::wstring& id) { return L"OneWay_" + id; }

namespace {

// Step, place, time, before and after, one line each: what the ledger shows of a change that
// the uninstall cannot take back.
void NoteOneWay(const ChangeRow& row) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::wstring when = FormatText(L"%04u-%02u-%02u %02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
    const std::wstring before = row.currentRead ? row.current : std::wstring(L"(not read)");
    WriteStateString(OneWayRecordName(row.id), row.step + L"\n" + row.setting + L"\n" + when + L"\n" + before + L"\n" + row.ours);
}

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end = text.find(L'\n'); end != std::wstring::npos; start = end + 1, end = text.find(L'\n', start)) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

}  // namespace

bool CommitChange(const PlannedChange& change) {
    if (!change.write) return true;
    // A one-way action that would change nothing is not run: it would only be noted as made.
    if (change.row.keeping == ChangeKeeping::OneWay && change.row.state == ChangeState::AlreadySet) return true;
    if (change.record) change.record();
    if (!change.write()) return false;
    if (change.row.keeping == ChangeKeeping::OneWay) NoteOneWay(change.row);
    return true;
}

bool CommitItem(const StepPlan& plan, size_t item, CommitCounts& counts) {
    bool ok = true;
    for (const PlannedChange& change : plan.changes) {
        if (change.item != item) continue;
        if (!change.write) {
            ++counts.leftAlone;
            continue;
        }
        if (CommitChange(change)) {
            ++counts.written;
        } else {
            ++counts.failed;
            ok = false;
        }
    }
    return ok;
}

void OneWayChangesMade(std::vector<ChangeRow>& out) {
    for (const std::wstring& name : RegistryValueNames(RegRoot::LocalMachine, kStateKey)) {
        if (name.rfind(L"OneWay_", 0) != 0) continue;
        std::wstring text;
        if (!ReadStateString(name, text)) continue;
        const std::vector<std::wstring> lines = Lines(text);
        if (lines.size() != 5) continue;
        ChangeRow row;
        row.id = name.substr(7);
        row.step = lines[0];
        row.setting = lines[1];
        row.keeping = ChangeKeeping::OneWay;
        row.recorded = true;
        row.original = lines[3];
        row.ours = lines[4];
        row.state = ChangeState::OneWayMade;
        row.reason = lines[2];
        out.push_back(std::move(row));
    }
}
