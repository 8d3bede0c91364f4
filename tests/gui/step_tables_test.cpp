// The constant tables the steps are built from. A slip in one of them is silent at run time: two
// rows sharing an alias share one backup record (the second original is lost), and a stage shown
// by the wrong slot draws another step's progress.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "gpu/gpu_catalogue.h"
#include "gui/steps.h"
#include "gui/workflow.h"
#include "tweaks/power_rows.h"

namespace {

TEST(StepTables, EveryStageOfASlotIsShownByThatSlotUnderItsNumber) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const StepStages s = StagesOfSlot(slot);
        for (const int stageValue : {s.running, s.finished, s.failed, s.stopped}) {
            if (stageValue < 0) continue;
            EXPECT_EQ(SlotShownBy(stageValue), slot) << "stage " << stageValue;
            // A finished measurement already heads the step whose install it offers.
            const int number = stageValue == stage::Measured ? slot + 2 : slot + 1;
            EXPECT_EQ(CaptionOf(stageValue).number, number) << "stage " << stageValue;
        }
        if (slot != SlotGpuDriver) {
            EXPECT_EQ(SlotOfRunningStage(s.running), slot);
        }
        EXPECT_NE(std::wstring(SlotName(slot)), L"");
    }
    // The screens of their own show no slot and carry no step number.
    for (const int own : {stage::Welcome, stage::Review, stage::Health, stage::Home, stage::FullTune}) {
        EXPECT_EQ(SlotShownBy(own), -1) << own;
    }
    EXPECT_EQ(CaptionOf(stage::Review).number, kStepCount);
    EXPECT_EQ(CaptionOf(stage::Home).number, 0);
}

TEST(StepTables, PowerRowsNameDistinctSettingsUnderDistinctAliases) {
    std::set<std::wstring> aliases;
    std::set<std::wstring> settings;
    auto check = [&](const PowerSettingRow& row) {
        EXPECT_TRUE(aliases.insert(row.alias).second) << row.alias;
        const GUID& g = row.setting;
        std::wstring text = std::to_wstring(g.Data1) + L"-" + std::to_wstring(g.Data2) + L"-" + std::to_wstring(g.Data3);
        for (const unsigned char b : g.Data4) text += L"-" + std::to_wstring(b);
        EXPECT_TRUE(settings.insert(text).second) << row.alias;
    };
    for (const PowerSettingRow& row : CpuTuneRows()) check(row);
    for (const PowerSettingRow& row : StoragePowerRows()) check(row);
    EXPECT_EQ(CpuTuneRows().size(), 22u);
    EXPECT_EQ(StoragePowerRows().size(), 3u);

    // Upper- and lower-case digits read alike, every field in its place.
    constexpr GUID g = GuidFromHexText("54533251-82BE-4824-96c1-47b60b740d00");
    EXPECT_EQ(g.Data1, 0x54533251ul);
    EXPECT_EQ(g.Data2, 0x82be);
    EXPECT_EQ(g.Data3, 0x4824);
    EXPECT_EQ(g.Data4[0], 0x96);
    EXPECT_EQ(g.Data4[7], 0x00);
    EXPECT_EQ(g.Data4[6], 0x0d);
}

TEST(StepTables, EveryGpuRowCarriesWhatItsKindWrites) {
    std::set<std::wstring> aliases;
    for (const GpuTweak& row : GpuCatalogue()) {
        EXPECT_TRUE(aliases.insert(row.alias).second) << row.alias;
        switch (row.kind) {
        case GpuTweakKind::Registry:
            EXPECT_NE(row.valueName, nullptr) << row.alias;
            // A per-adapter row is written under each adapter's own key; any other row names its key.
            EXPECT_EQ(row.keyPath == nullptr, row.perAdapter) << row.alias;
            break;
        case GpuTweakKind::DriverProfile:
            EXPECT_NE(row.settingId, 0u) << row.alias;
            EXPECT_EQ(row.vendor, GpuNvidia) << row.alias;
            break;
        case GpuTweakKind::Service:
            EXPECT_NE(row.serviceName, nullptr) << row.alias;
            break;
        }
    }
    EXPECT_EQ(GpuCatalogue().size(), 32u);
}

// The step catalogue joins the names each part of the program knows a step by; two rows sharing
// one would let one step's switch, stored choice, ids or restore turn act on another's.
TEST(StepTables, TheStepCatalogueGivesEachStepItsOwnNamesIdsAndTurn) {
    std::set<std::wstring> words, wants, prefixes, switches, areas, markers;
    std::set<int> turns;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const StepEntry& step = StepAt(slot);
        EXPECT_EQ(step.slot, slot);
        EXPECT_EQ(&step, &StepCatalogue()[static_cast<size_t>(slot)]);
        EXPECT_TRUE(words.insert(step.word).second) << step.word;
        EXPECT_TRUE(wants.insert(step.wantName).second) << step.wantName;
        EXPECT_EQ(FindStep(step.word), &step) << step.word;
        if (step.idPrefix != nullptr) {
            EXPECT_TRUE(prefixes.insert(step.idPrefix).second) << step.idPrefix;
            EXPECT_EQ(StepOfChange(std::wstring(step.idPrefix) + L"anything"), &step);
        }
        if (step.leaveOut != nullptr) {
            EXPECT_TRUE(switches.insert(step.leaveOut).second) << step.leaveOut;
        }
        if (step.area != nullptr) {
            EXPECT_TRUE(areas.insert(step.area).second) << step.area;
            EXPECT_EQ(SlotRepairing(step.area), slot);
            EXPECT_NE(step.group, nullptr) << "a step that repairs has a health group";
        }
        if (step.appliedMarker != nullptr) {
            EXPECT_TRUE(markers.insert(step.appliedMarker).second);
        }
        if (step.restore != nullptr) {
            EXPECT_TRUE(turns.insert(step.restoreOrder).second) << step.word;
        }
        // What records a change can show and put it back; what applies has a plan to preview.
        EXPECT_EQ(step.ledger != nullptr, step.idPrefix != nullptr) << step.word;
        if (step.apply != nullptr) {
            EXPECT_NE(step.plan, nullptr) << step.word;
        }
        EXPECT_EQ(std::wstring(SlotTag(slot)), step.tag);
    }
    // Storage goes back before Memory: compression comes back on only once SysMain is back.
    EXPECT_LT(StepAt(SlotStorage).restoreOrder, StepAt(SlotMemory).restoreOrder);
    EXPECT_TRUE(ChangeMatches(L"storage.ASPM.dc", L"storage"));
    EXPECT_TRUE(ChangeMatches(L"storage.ASPM.dc", L"STORAGE.aspm.DC"));
    EXPECT_FALSE(ChangeMatches(L"storage.ASPM.dc", L"gpu"));
    EXPECT_FALSE(ChangeMatches(L"storage.ASPM.dc", L"storage.ASPM"));
    EXPECT_EQ(FindStep(L"bogus"), nullptr);
}

}  // namespace
