// The paging file setups Windows stores, read as the Memory step must read them before it
// touches anything.
#include <gtest/gtest.h>

#include "tweaks/pagefile_rules.h"

TEST(PagefileRules, AutomaticManualAndNoneAreToldApart) {
    using Entries = std::vector<std::wstring>;
    EXPECT_EQ(ClassifyPagingFiles(Entries{L"?:\\pagefile.sys"}), PagefileSetup::SystemManaged);
    EXPECT_EQ(ClassifyPagingFiles(Entries{L"C:\\pagefile.sys 4096 8192"}), PagefileSetup::Manual);
    // System-managed size on a drive the user picked: automatic management is off, so it is theirs.
    EXPECT_EQ(ClassifyPagingFiles(Entries{L"C:\\pagefile.sys 0 0", L"D:\\pagefile.sys 0 0"}), PagefileSetup::Manual);
    EXPECT_EQ(ClassifyPagingFiles(Entries{}), PagefileSetup::None);

    const std::wstring stored(L"C:\\pagefile.sys 4096 8192\0  \0D:\\pagefile.sys 0 0\0\0", 50);
    const Entries entries = MultiStringEntries(stored);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(PagingFilesText(entries), L"C:\\pagefile.sys 4096 8192; D:\\pagefile.sys 0 0");
    EXPECT_TRUE(MultiStringEntries(std::wstring(L"\0\0", 2)).empty());
    EXPECT_TRUE(MultiStringEntries(L"").empty());
    // A value stored as REG_SZ (no trailing nulls) still reads as its one entry.
    EXPECT_EQ(MultiStringEntries(L"?:\\pagefile.sys"), Entries{L"?:\\pagefile.sys"});
}
