#include "foundation/change_ledger.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/json.h"

// What a script parses: escapes, non-ASCII as UTF-8, figures that cannot be worked out as null,
// a key set twice keeping its place, and empty containers.
TEST(Json, DocumentsAreValidWhateverTheTextsHold) {
    Json doc = Json::Object();
    doc.Set("path", L"C:\\Program Files\\\"x\"\n\t\x01");
    doc.Set("name", L"Quorvantis \u00b7 \u2192");
    doc.Set("nan", std::nan(""));
    doc.Set("list", Json::Array().Push(1).Push(0.5).Push(nullptr).Push(true));
    doc.Set("empty", Json::Object());
    doc.Set("path", L"again");
    EXPECT_EQ(doc.Text(),
              "{\n"
              "  \"path\": \"again\",\n"
              "  \"name\": \"Quorvantis \xC2\xB7 \xE2\x86\x92\",\n"
              "  \"nan\": null,\n"
              "  \"list\": [\n    1,\n    0.5,\n    null,\n    true\n  ],\n"
              "  \"empty\": {}\n"
              "}\n");
    EXPECT_EQ(JsonQuoted(L"C:\\a\"b\"\n\x01"), "\"C:\\\\a\\\"b\\\"\\n\\u0001\"");
}

namespace {

ChangeRow Row(const wchar_t* id, const wchar_t* step, const wchar_t* setting, const wchar_t* original, const wchar_t* current,
              const wchar_t* ours) {
    ChangeRow row;
    row.id = id;
    row.step = step;
    row.setting = setting;
    row.recorded = original != nullptr;
    row.original = original != nullptr ? original : L"";
    row.currentRead = current != nullptr;
    row.current = current != nullptr ? current : L"";
    row.ours = ours;
    return row;
}

}  // namespace

// Whose value a setting holds decides its state; a value we cannot read is never called ours.
TEST(ChangeLedger, StatesAndTheTextGroupEachStepOnce) {
    const ChangeRow ours = Row(L"gpu.HAGS", L"GPU Config", L"HKLM\\a", L"REG_DWORD 1", L"REG_DWORD 2", L"REG_DWORD 2");
    ChangeRow restored = ours;
    restored.current = L"REG_DWORD 1";
    ChangeRow changed = ours;
    changed.current = L"REG_DWORD 5";
    ChangeRow unread = ours;
    unread.currentRead = false;
    unread.current = L"REG_DWORD 2";
    EXPECT_EQ(JudgeRecorded(ours), ChangeState::StillOurs);
    EXPECT_EQ(JudgeRecorded(restored), ChangeState::AlreadyRestored);
    EXPECT_EQ(JudgeRecorded(changed), ChangeState::ChangedSince);
    EXPECT_EQ(JudgeRecorded(unread), ChangeState::Unreadable);
    EXPECT_EQ(JudgePlanned(ours), ChangeState::AlreadySet);
    EXPECT_EQ(JudgePlanned(changed), ChangeState::WouldChange);
    EXPECT_EQ(JudgePlanned(unread), ChangeState::Unreadable);

    const ChangeRow memory = Row(L"memory.compression", L"Memory", L"memory compression", L"on", L"off", L"off");
    std::vector<ChangeRow> rows{ours, memory, changed};
    for (ChangeRow& row : rows) row.state = JudgeRecorded(row);
    EXPECT_EQ(LedgerText(rows, {L"delete HKLM\\SOFTWARE\\Quorvantis"}),
              L"\nGPU Config\n"
              L"  gpu.HAGS: HKLM\\a\n      was REG_DWORD 1  \u00b7  now REG_DWORD 2  \u00b7  ours REG_DWORD 2  \u00b7  still ours\n"
              L"  gpu.HAGS: HKLM\\a\n      was REG_DWORD 1  \u00b7  now REG_DWORD 5  \u00b7  ours REG_DWORD 2  \u00b7  changed since "
              L"by someone else\n"
              L"\nMemory\n"
              L"  memory.compression: memory compression\n      was on  \u00b7  now off  \u00b7  ours off  \u00b7  still ours\n"
              L"\n--uninstall would:\n  delete HKLM\\SOFTWARE\\Quorvantis\n");
    unread.recorded = false;
    unread.state = JudgePlanned(unread);
    EXPECT_EQ(WhatIfText({unread}, {}),
              L"\nGPU Config\n  gpu.HAGS: HKLM\\a\n      now (could not be read)  \u2192  REG_DWORD 2\n\nNothing was changed.\n");
}

// What the uninstall cannot do is said as such, never as a change someone else made: a value
// in an account that is not signed in, a setting whose place is gone, a one-way change; and a
// preview says what a step leaves alone and what it changes for good.
TEST(ChangeLedger, RecordsThatCannotBePutBackSayWhy) {
    ChangeRow away = Row(L"gpu.GAMEMODE.user", L"GPU Config", L"HKU\\S-1-5-21-1\\x", L"REG_DWORD 1", nullptr, L"REG_DWORD 0");
    away.state = ChangeState::AccountAway;
    away.reason = L"PC\\bob";
    ChangeRow gone = Row(L"storage.ASPM.ac.5F0C8D3E", L"Storage", L"power setting x", L"1", nullptr, L"0");
    gone.state = ChangeState::Gone;
    gone.reason = L"plan deleted";
    ChangeRow made = Row(L"storage.trim", L"Storage", L"HKLM\\...\\DisableDeleteNotification", L"REG_DWORD 1", nullptr,
                         L"REG_DWORD 0");
    made.keeping = ChangeKeeping::OneWay;
    made.state = ChangeState::OneWayMade;
    made.reason = L"2026-12-09 15:34";
    EXPECT_EQ(ChangeStateLine(away), L"cannot be read: account PC\\bob is not signed in");
    EXPECT_EQ(ChangeStateLine(gone), L"gone (plan deleted): nothing to put back");
    EXPECT_FALSE(PutBackOnRestore(gone));
    EXPECT_FALSE(PutBackOnRestore(made));
    EXPECT_FALSE(PutBackOnRestore(away)) << "kept for a later uninstall, not put back now";
    EXPECT_EQ(LedgerText({made}, {}),
              L"\nStorage\n  storage.trim: HKLM\\...\\DisableDeleteNotification\n      was REG_DWORD 1  \u00b7  set to "
              L"REG_DWORD 0  \u00b7  one-way, made 2026-12-09 15:34; --uninstall leaves it\n\n--uninstall would:\n");

    ChangeRow alone = Row(L"gpu.NV_PWR", L"GPU Config", L"NVIDIA profile setting 0x1057EB71", nullptr, L"(not a number)", L"1");
    alone.state = ChangeState::LeftAlone;
    alone.reason = L"not a number";
    ChangeRow oneWay = Row(L"storage.hibernate", L"Storage", L"hibernate", nullptr, L"REG_DWORD 1", L"REG_DWORD 0");
    oneWay.keeping = ChangeKeeping::OneWay;
    oneWay.state = JudgePlanned(oneWay);
    EXPECT_EQ(WhatIfText({alone, oneWay}, {}),
              L"\nGPU Config\n  gpu.NV_PWR: NVIDIA profile setting 0x1057EB71\n      now (not a number)  \u00b7  left alone: not a "
              L"number\n\nStorage\n  storage.hibernate: hibernate\n      now REG_DWORD 1  \u2192  REG_DWORD 0  \u00b7  would change  "
              L"\u00b7  one-way: --uninstall leaves it\n\nNothing was changed.\n");
    const std::string json = ChangeStepsJson({away}, false).Text();
    EXPECT_NE(json.find("\"id\": \"gpu.GAMEMODE.user\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"state\": \"account-not-signed-in\",\n        \"reason\": \"PC\\\\bob\""), std::string::npos) << json;
}
