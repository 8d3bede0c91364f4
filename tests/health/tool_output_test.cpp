// What the health checks make of the tools' output, including the outputs that must not pass.
#include <gtest/gtest.h>

#include "foundation/text.h"
#include "health/tool_output.h"

TEST(ToolOutput, TrimIsDecidedByTheNtfsLine) {
    struct Case {
        const wchar_t* output;
        ToolAnswer answer;
    } cases[] = {
        {L"NTFS DisableDeleteNotify = 0  (Allows TRIM operations to be sent to the storage device)\r\n"
         L"ReFS DisableDeleteNotify = 0  (Allows TRIM operations to be sent to the storage device)\r\n",
         ToolAnswer::Yes},
        // TRIM off for NTFS, on for ReFS: the system drive is NTFS, so TRIM is off.
        {L"NTFS DisableDeleteNotify = 1\r\nReFS DisableDeleteNotify = 0\r\n", ToolAnswer::No},
        {L"ReFS DisableDeleteNotify = 0\r\nNTFS DisableDeleteNotify = 1\r\n", ToolAnswer::No},
        {L"DisableDeleteNotify = 0\r\n", ToolAnswer::Yes},  // older Windows: one line
        {L"DisableDeleteNotify=1", ToolAnswer::No},
        {L"NTFS DisableDeleteNotify is not currently set\r\nReFS DisableDeleteNotify = 0\r\n", ToolAnswer::Yes},
        {L"Error:  Access is denied.\r\n", ToolAnswer::Unknown},
        {L"", ToolAnswer::Unknown},
        {L"Something = 0", ToolAnswer::Unknown},
        {L"DisableDeleteNotify = 2", ToolAnswer::Unknown},
    };
    for (const Case& c : cases) EXPECT_EQ(TrimEnabledFromFsutil(c.output), c.answer) << ToUtf8(c.output);
}

TEST(ToolOutput, MemoryCompressionIsTheValueOnItsOwnLine) {
    EXPECT_EQ(MemoryCompressionFromPowerShell(L"True\r\n"), ToolAnswer::Yes);
    EXPECT_EQ(MemoryCompressionFromPowerShell(L"  False \r\n"), ToolAnswer::No);
    EXPECT_EQ(MemoryCompressionFromPowerShell(L"\r\nFalse"), ToolAnswer::No);
    EXPECT_EQ(MemoryCompressionFromPowerShell(L"Get-MMAgent : The term 'Get-MMAgent' is not recognized. True or False?"),
              ToolAnswer::Unknown);
    EXPECT_EQ(MemoryCompressionFromPowerShell(L""), ToolAnswer::Unknown);
}
