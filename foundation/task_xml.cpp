#include "foundation/task_xml.h"

std::wstring XmlEscaped(const std::wstring& text) {
    std::wstring out;
    for (const wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::wstring ScheduledTaskXml(const ScheduledTaskDefinition& task) {
    const bool system = task.account == kSystemAccount;
    const std::wstring account = XmlEscaped(task.account);
    std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                       L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
                       L"  <RegistrationInfo>\r\n"
                       L"    <Description>" + XmlEscaped(task.description) + L"</Description>\r\n"
                       L"  </RegistrationInfo>\r\n"
                       L"  <Triggers>\r\n";
    if (task.start == ScheduledTaskDefinition::Start::AtBoot) {
        xml += L"    <BootTrigger>\r\n      <Enabled>true</Enabled>\r\n    </BootTrigger>\r\n";
    } else {
        // Only this account's logon starts it, in this account's own session.
        xml += L"    <LogonTrigger>\r\n      <Enabled>true</Enabled>\r\n      <UserId>" + account + L"</UserId>\r\n    </LogonTrigger>\r\n";
    }
    xml += L"  </Triggers>\r\n"
           L"  <Principals>\r\n"
           L"    <Principal id=\"Author\">\r\n"
           L"      <UserId>" + account + L"</UserId>\r\n";
    if (!system) xml += L"      <LogonType>InteractiveToken</LogonType>\r\n";
    xml += std::wstring(L"      <RunLevel>") + (task.highest ? L"HighestAvailable" : L"LeastPrivilege") + L"</RunLevel>\r\n"
           L"    </Principal>\r\n"
           L"  </Principals>\r\n"
           L"  <Settings>\r\n"
           L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
           L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
           L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
           L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
           // Without it Task Scheduler uses 7: below-normal CPU, I/O and memory priority.
           L"    <Priority>5</Priority>\r\n"
           L"    <Enabled>true</Enabled>\r\n"
           L"  </Settings>\r\n"
           L"  <Actions Context=\"Author\">\r\n"
           L"    <Exec>\r\n"
           L"      <Command>" + XmlEscaped(task.command) + L"</Command>\r\n";
    if (!task.arguments.empty()) xml += L"      <Arguments>" + XmlEscaped(task.arguments) + L"</Arguments>\r\n";
    xml += L"    </Exec>\r\n"
           L"  </Actions>\r\n"
           L"</Task>\r\n";
    return xml;
}
