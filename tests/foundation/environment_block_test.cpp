// The environment a child gets: one variable set, everything else as it was, names compared as
// Windows compares them.
#include <gtest/gtest.h>

#include <string>

#include "foundation/environment_block.h"

namespace {

std::wstring Block(std::initializer_list<const wchar_t*> entries) {
    std::wstring block;
    for (const wchar_t* e : entries) block.append(e).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

}  // namespace

TEST(EnvironmentBlock, AVariableIsReplacedInPlaceOrAddedAndNothingElseChanges) {
    const std::wstring block = Block({L"=C:=C:\\Users", L"Path=C:\\Windows", L"psmodulepath=C:\\Users\\me\\Modules", L"TEMP=C:\\t"});
    EXPECT_EQ(WithVariable(block, L"PSModulePath", L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\Modules"),
              Block({L"=C:=C:\\Users", L"Path=C:\\Windows", L"PSModulePath=C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\Modules",
                     L"TEMP=C:\\t"}));
    EXPECT_EQ(WithVariable(Block({L"A=1"}), L"B", L"2"), Block({L"A=1", L"B=2"}));
    EXPECT_EQ(WithVariable(Block({}), L"B", L"2"), Block({L"B=2"}));
    EXPECT_EQ(WithVariable(std::wstring(), L"B", L"2"), Block({L"B=2"}));
    // A second spelling of the same name would leave the child to pick either; only one is kept.
    EXPECT_EQ(WithVariable(Block({L"X=1", L"x=2", L"Y=3"}), L"X", L"9"), Block({L"X=9", L"Y=3"}));
    // A name that only starts like the variable is another variable.
    EXPECT_EQ(WithVariable(Block({L"PSModulePathX=1"}), L"PSModulePath", L"v"), Block({L"PSModulePathX=1", L"PSModulePath=v"}));
    EXPECT_EQ(VariableIn(Block({L"=C:=x", L"Path=p"}), L"path"), L"p");
    EXPECT_EQ(VariableIn(Block({L"Path=p"}), L"Pat"), L"");
}
