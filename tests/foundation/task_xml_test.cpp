// The task definitions the program registers, pinned as the Task Scheduler reads them.
#include <gtest/gtest.h>

#include "foundation/task_xml.h"

TEST(TaskXml, ALogonTaskRunsForItsUserInTheirSessionWithTheHighestLevel) {
    ScheduledTaskDefinition task;
    task.account = L"DESK\\gamer";
    task.command = L"C:\\Program Files (x86)\\MSI Afterburner\\MSIAfterburner.exe";
    task.arguments = L"-profile1 /s";
    task.description = L"Started by Quorvantis at logon.";
    const std::wstring xml = ScheduledTaskXml(task);
    EXPECT_NE(xml.find(L"<LogonTrigger>\r\n      <Enabled>true</Enabled>\r\n      <UserId>DESK\\gamer</UserId>\r\n    </LogonTrigger>"),
              std::wstring::npos);
    EXPECT_NE(xml.find(L"<UserId>DESK\\gamer</UserId>\r\n      <LogonType>InteractiveToken</LogonType>\r\n      "
                       L"<RunLevel>HighestAvailable</RunLevel>"),
              std::wstring::npos);
    EXPECT_NE(xml.find(L"<Command>C:\\Program Files (x86)\\MSI Afterburner\\MSIAfterburner.exe</Command>\r\n      "
                       L"<Arguments>-profile1 /s</Arguments>"),
              std::wstring::npos);
    EXPECT_EQ(xml.rfind(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>", 0), 0u);
    EXPECT_EQ(xml.find(L"<BootTrigger>"), std::wstring::npos);
}

TEST(TaskXml, ABootTaskRunsAsSystemAndTextIsEscaped) {
    ScheduledTaskDefinition task;
    task.start = ScheduledTaskDefinition::Start::AtBoot;
    task.account = kSystemAccount;
    task.command = L"C:\\A&B\\<x>.exe";
    task.arguments = L"--guard \"quoted\" 'single'";
    const std::wstring xml = ScheduledTaskXml(task);
    EXPECT_NE(xml.find(L"<BootTrigger>"), std::wstring::npos);
    EXPECT_NE(xml.find(L"<UserId>S-1-5-18</UserId>\r\n      <RunLevel>HighestAvailable</RunLevel>"), std::wstring::npos);
    EXPECT_EQ(xml.find(L"InteractiveToken"), std::wstring::npos);
    EXPECT_NE(xml.find(L"<Command>C:\\A&amp;B\\&lt;x&gt;.exe</Command>"), std::wstring::npos);
    EXPECT_NE(xml.find(L"<Arguments>--guard &quot;quoted&quot; &apos;single&apos;</Arguments>"), std::wstring::npos);
    task.arguments.clear();
    EXPECT_EQ(ScheduledTaskXml(task).find(L"<Arguments>"), std::wstring::npos);
}
