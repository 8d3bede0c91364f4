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

// A child's environment keeps the machine's own variables and replaces everything a child could
// be steered by: PATH holds the system's folders only, TEMP and TMP its own folder, PowerShell's
// modules the system's folder; the account's folders come from its profile.
TEST(EnvironmentBlock, AChildGetsTheMachinesVariablesWithItsOwnPathTempAndProfile) {
    const std::wstring system = Block({L"ComSpec=C:\\Windows\\system32\\cmd.exe", L"Path=C:\\Windows\\system32;C:\\Tools",
                                       L"TEMP=C:\\Windows\\TEMP", L"NUMBER_OF_PROCESSORS=8",
                                       L"PSModulePath=C:\\Program Files\\WindowsPowerShell\\Modules", L"USERPROFILE=C:\\Users\\Default"});
    ChildPlaces places;
    places.systemFolder = L"C:\\Windows\\system32";
    places.windowsFolder = L"C:\\Windows";
    places.temp = L"C:\\ProgramData\\Quorvantis\\temp\\12-0";
    places.programData = L"C:\\ProgramData";
    places.profile = L"C:\\Users\\ada";
    places.userName = L"ada";
    const std::wstring block = ChildBlock(system, places);
    EXPECT_EQ(VariableIn(block, L"PATH"),
              L"C:\\Windows\\system32;C:\\Windows;C:\\Windows\\system32\\Wbem;C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\");
    EXPECT_EQ(VariableIn(block, L"TEMP"), places.temp);
    EXPECT_EQ(VariableIn(block, L"TMP"), places.temp);
    EXPECT_EQ(VariableIn(block, L"PSModulePath"), L"C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\Modules");
    EXPECT_EQ(VariableIn(block, L"NUMBER_OF_PROCESSORS"), L"8");
    EXPECT_EQ(VariableIn(block, L"ComSpec"), L"C:\\Windows\\system32\\cmd.exe");
    EXPECT_EQ(VariableIn(block, L"SystemRoot"), L"C:\\Windows");
    EXPECT_EQ(VariableIn(block, L"SystemDrive"), L"C:");
    EXPECT_EQ(VariableIn(block, L"USERPROFILE"), L"C:\\Users\\ada");
    EXPECT_EQ(VariableIn(block, L"LOCALAPPDATA"), L"C:\\Users\\ada\\AppData\\Local");
    EXPECT_EQ(VariableIn(block, L"ALLUSERSPROFILE"), L"C:\\ProgramData");
    // Nothing is added that the machine and the places do not give.
    EXPECT_EQ(VariableIn(block, L"COR_ENABLE_PROFILING"), L"");
    // A block the system could not give still starts a working child.
    EXPECT_EQ(VariableIn(ChildBlock(L"", places), L"ComSpec"), L"C:\\Windows\\system32\\cmd.exe");
}
