// The health screen: every check, attention first, and the chosen item's details with its repair.
#include <algorithm>

#include "foundation/text.h"
#include "gui/screens/screen.h"

namespace {

constexpr int kCheckAgain = 590, kRepair = 591, kRunHealth = 592;

constexpr int kPutBack = 593;

// Every step's group, in the steps' order, then the checks that belong to none.
std::vector<HealthGroupCaption> MakeGroups() {
    std::vector<HealthGroupCaption> groups;
    for (const StepEntry& step : StepCatalogue()) {
        if (step.group != nullptr) groups.push_back({step.group, step.groupText});
    }
    groups.push_back({L"Other", L"Checks that do not belong to one of the steps above."});
    return groups;
}

// The ledger: every setting on record and whose value it holds now. Its rows are chosen by
// numbers after the checks'. Returns where the list goes on.
float DrawLedger(ScreenContext& c, const FrameSnapshot& s, HealthScreenState& state, const RectF& l, float listTop, float y) {
    if (!s.changesRead) return y;
    Renderer& g = c.renderer;
    Ui& ui = c.ui;
    constexpr float kHeading = 24, kRow = 20;
    const auto visible = [&](float top, float bottom) { return top >= listTop - 4 && bottom <= l.bottom; };
    if (visible(y, y + 22)) {
        g.Text(L"What Quorvantis changed", RectF{l.left, y, l.right, y + 22}, Font::Bold13, palette::Icy, Align::Leading, true);
    }
    y += kHeading;
    if (s.changes.empty()) {
        if (visible(y, y + kRow)) {
            g.Text(L"Nothing is on record: no setting of this PC was changed by Quorvantis.", RectF{l.left + 6, y, l.right, y + kRow},
                   Font::Body12, palette::Muted, Align::Leading, true);
        }
        return y + kRow;
    }
    for (size_t index = 0; index < s.changes.size(); ++index, y += kRow) {
        const ChangeRow& change = s.changes[index];
        const int id = static_cast<int>(s.health.size() + index);
        const RectF row{l.left, y, l.right, y + kRow};
        if (!visible(row.top, row.bottom)) continue;
        if (state.selected == id) g.FillRect(row, palette::Electric.WithAlpha(0.18f), 4);
        if (ui.Hovered(row)) ui.hand = true;
        if (ui.Clicked(row)) state.selected = id;
        const RectF text = row.Inset(6, 0);
        g.Text(change.step + L"  |  " + change.id, RectF{text.left, text.top, text.right - 190, text.bottom}, Font::Body12,
               palette::CoolWhite, Align::Leading, true);
        g.Text(ChangeStateText(change.state), text, Font::Body12,
               change.state == ChangeState::StillOurs ? palette::Electric : palette::Muted, Align::Trailing, true);
    }
    return y;
}

}  // namespace

std::span<const HealthGroupCaption> HealthGroups() {
    static const std::vector<HealthGroupCaption> groups = MakeGroups();
    return groups;
}

HealthSection HealthSectionOf(int status) {
    if (IsAttentionStatus(status)) return HealthSection::Attention;
    return status == HealthPassing ? HealthSection::Passing : HealthSection::Other;
}

Color HealthStatusColor(int status) {
    if (status == HealthPassing) return palette::Electric;
    if (IsAttentionStatus(status)) return palette::Alert;
    return palette::Muted;
}

std::wstring ChangeDetails(const ChangeRow& change) {
    std::wstring text = change.id + L"\n" + change.setting + L"\n\nBefore Quorvantis: " +
                        (change.recorded ? change.original : std::wstring(L"(not recorded)")) + L"\nNow: " +
                        (change.currentRead ? change.current : std::wstring(L"(could not be read)")) + L"\nQuorvantis writes: " +
                        change.ours + L"\nState: " + ChangeStateLine(change) + L"\n\n";
    if (PutBackOnRestore(change)) {
        text += L"\"Put back\" writes the value from before Quorvantis back now, for this setting only; uninstall does the "
                L"same for all of them, whoever changed them since.";
    } else if (change.keeping == ChangeKeeping::OneWay) {
        text += L"A one-way change: nothing can put it back.";
    } else if (change.keeping == ChangeKeeping::Own) {
        text += L"This program's own: uninstall removes it.";
    } else {
        text += L"There is nothing to put back now.";
    }
    return text;
}

std::wstring HealthDetails(const HealthCheck& check) {
    std::wstring details = check.explanation + L"\n\nStatus: " + HealthStatusName(check.status) + L"\nLive: " +
                           check.observed + L"\nExpected: " + check.expected;
    if (check.repairStep.empty()) details += L"\n\nThis check only reads the live value.";
    return details;
}

void DrawHealth(ScreenContext& c, const FrameSnapshot& s, HealthScreenState& state, ScreenOps& ops) {
    Renderer& g = c.renderer;
    Ui& ui = c.ui;
    const RectF& area = c.layout.content;
    const float listWidth = (area.Width() - kGap) * 0.6f;
    const RectF list{area.left, area.top, area.left + listWidth, area.bottom};
    const RectF detail{list.right + kGap, area.top, area.right, area.bottom};
    ui.Panel(list);
    const RectF l = list.Inset(16, 12);
    g.Text(L"Health", RectF{l.left, l.top, l.left + 120, l.top + 30}, Font::Heading22, palette::CoolWhite);
    if (s.healthRunning) {
        g.Text(L"Checking the live settings. Nothing is being changed.", RectF{l.left + 110, l.top + 4, l.right, l.top + 28},
               Font::Body12, palette::Icy);
    }
    const HealthSummary summary = SummarizeHealth(s.health);
    if (!s.health.empty()) {
        g.Text(FormatText(L"%d passing   %d attention   %d other", summary.passing, summary.attention,
                          summary.informational + summary.other),
               RectF{l.left, l.top + 32, l.right, l.top + 52}, Font::Body12, palette::Icy);
    }
    constexpr float kHeading = 24, kRow = 20;
    const float listTop = l.top + 60;
    float content = 0;
    for (const HealthSection section : {HealthSection::Attention, HealthSection::Passing, HealthSection::Other}) {
        const auto count = std::count_if(s.health.begin(), s.health.end(),
                                         [&](const HealthCheck& check) { return HealthSectionOf(check.status) == section; });
        if (count > 0) content += kHeading + static_cast<float>(count) * kRow;
    }
    if (s.changesRead) content += kHeading + static_cast<float>(std::max<size_t>(s.changes.size(), 1)) * kRow;
    state.scroll = std::clamp(state.scroll - static_cast<float>(ui.input.wheel) * 40, 0.0f,
                              std::max(0.0f, content - (l.bottom - listTop)));
    float y = listTop - state.scroll;
    const auto visible = [&](float top, float bottom) { return top >= listTop - 4 && bottom <= l.bottom; };
    for (const HealthSection section : {HealthSection::Attention, HealthSection::Passing, HealthSection::Other}) {
        // The ledger goes between what passes and the rest.
        if (section == HealthSection::Other) y = DrawLedger(c, s, state, l, listTop, y);
        bool heading = false;
        for (size_t index = 0; index < s.health.size(); ++index) {
            const HealthCheck& check = s.health[index];
            if (HealthSectionOf(check.status) != section) continue;
            if (!heading) {
                const wchar_t* name = section == HealthSection::Attention ? L"Attention" : section == HealthSection::Passing ? L"Passing" : L"Other";
                const Color color = section == HealthSection::Attention ? palette::Alert
                                    : section == HealthSection::Passing ? palette::Electric
                                                                  : palette::Muted;
                if (visible(y, y + 22)) g.Text(name, RectF{l.left, y, l.right, y + 22}, Font::Bold13, color, Align::Leading, true);
                heading = true;
                y += kHeading;
            }
            const RectF row{l.left, y, l.right, y + kRow};
            if (visible(row.top, row.bottom)) {
                if (state.selected == static_cast<int>(index)) g.FillRect(row, palette::Electric.WithAlpha(0.18f), 4);
                if (ui.Hovered(row)) ui.hand = true;
                if (ui.Clicked(row)) state.selected = static_cast<int>(index);
                g.Text(check.group + L"  |  " + check.title, row.Inset(6, 0), Font::Body12, palette::CoolWhite, Align::Leading, true);
                g.Text(HealthStatusName(check.status), row.Inset(6, 0), Font::Body12, HealthStatusColor(check.status),
                       Align::Trailing, true);
            }
            y += kRow;
        }
    }
    ui.Panel(detail);
    const RectF d = detail.Inset(16, 12);
    if (s.health.empty()) {
        if (!s.healthRunning && ui.Button(kRunHealth, RectF::Xywh(d.left, d.top, 200, 36), L"Run health check", {ButtonKind::Primary})) {
            ops.StartHealthScan();
        }
        return;
    }
    const int changeIndex = state.selected - static_cast<int>(s.health.size());
    if (changeIndex >= 0 && changeIndex < static_cast<int>(s.changes.size())) {
        const ChangeRow& change = s.changes[static_cast<size_t>(changeIndex)];
        g.Text(change.step, RectF{d.left, d.top, d.right, d.top + 30}, Font::Heading22, palette::CoolWhite);
        std::wstring details = ChangeDetails(change);
        if (s.puttingBack) details += L"\n\nPutting a setting back...";
        else if (!s.putBackOutcome.empty()) details += L"\n\n" + s.putBackOutcome;
        g.Text(details, RectF{d.left, d.top + 40, d.right, d.bottom - 50}, Font::Paragraph13, palette::Icy);
        if (ui.Button(kCheckAgain, RectF::Xywh(d.left, d.bottom - 38, 150, 36), L"Check again")) ops.OpenHealth(true);
        const bool canPutBack = PutBackOnRestore(change) && !s.puttingBack;
        if (ui.Button(kPutBack, RectF::Xywh(d.left + 162, d.bottom - 38, 150, 36), L"Put back",
                      {ButtonKind::Primary, false, false, !canPutBack})) {
            ops.PutBackChange(change);
        }
        return;
    }
    if (state.selected < 0 || state.selected >= static_cast<int>(s.health.size())) {
        g.Text(L"Details", RectF{d.left, d.top, d.right, d.top + 30}, Font::Heading22, palette::CoolWhite);
        g.Text(L"Choose an item on the left to see what it checks, what was found and what Quorvantis expects. Items that "
               L"need attention come first; where a step can put an item right, \"Repair this\" runs that step after "
               L"asking you.",
               RectF{d.left, d.top + 40, d.right, d.bottom - 50}, Font::Paragraph13, palette::Icy);
        if (ui.Button(kCheckAgain, RectF::Xywh(d.left, d.bottom - 38, 150, 36), L"Check again")) ops.OpenHealth(true);
        return;
    }
    const HealthCheck& check = s.health[static_cast<size_t>(state.selected)];
    g.Text(check.title, RectF{d.left, d.top, d.right, d.top + 30}, Font::Heading22, palette::CoolWhite);
    g.Text(check.explanation + L"\n\nStatus: " + HealthStatusName(check.status) + L"\nLive: " + check.observed +
               L"\nExpected: " + check.expected,
           RectF{d.left, d.top + 40, d.right, d.bottom - 50}, Font::Paragraph13, palette::Icy);
    if (ui.Button(kCheckAgain, RectF::Xywh(d.left, d.bottom - 38, 150, 36), L"Check again")) ops.OpenHealth(true);
    const bool repairable = !check.repairStep.empty();
    if (ui.Button(kRepair, RectF::Xywh(d.left + 162, d.bottom - 38, 150, 36), repairable ? L"Repair this" : L"No repair",
                  {ButtonKind::Primary, false, false, !repairable})) {
        ops.RepairArea(check.repairStep);
    }
}
