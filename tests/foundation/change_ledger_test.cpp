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

// Whose value a setting holds decides its state; a value we cannot read is never called ours.
TEST(ChangeLedger, StatesAndTheTextGroupEachStepOnce) {
    ChangeRow ours{L"GPU Config", L"HKLM\\a", true, L"REG_DWORD 1", true, L"REG_DWORD 2", L"REG_DWORD 2"};
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

    ChangeRow memory{L"Memory", L"memory compression", true, L"on", true, L"off", L"off"};
    std::vector<ChangeRow> rows{ours, memory, changed};
    for (ChangeRow& row : rows) row.state = JudgeRecorded(row);
    EXPECT_EQ(LedgerText(rows, {L"delete HKLM\\SOFTWARE\\Quorvantis"}),
              L"\nGPU Config\n"
              L"  HKLM\\a\n      was REG_DWORD 1  \u00b7  now REG_DWORD 2  \u00b7  ours REG_DWORD 2  \u00b7  still ours\n"
              L"  HKLM\\a\n      was REG_DWORD 1  \u00b7  now REG_DWORD 5  \u00b7  ours REG_DWORD 2  \u00b7  changed since by "
              L"someone else\n"
              L"\nMemory\n"
              L"  memory compression\n      was on  \u00b7  now off  \u00b7  ours off  \u00b7  still ours\n"
              L"\n--uninstall would:\n  delete HKLM\\SOFTWARE\\Quorvantis\n");
    unread.recorded = false;
    unread.state = JudgePlanned(unread);
    EXPECT_EQ(WhatIfText({unread}, {}),
              L"\nGPU Config\n  HKLM\\a\n      now (could not be read)  \u2192  REG_DWORD 2\n\nNothing was changed.\n");
}
