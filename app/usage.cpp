#include "app/usage.h"

#include "app/commands.h"
#include "foundation/console.h"
#include "foundation/log.h"
#include "foundation/product.h"
#include "foundation/text.h"

namespace {

constexpr const wchar_t* kUsageHeader =
    L"Quorvantis %ls - timer resolution, CPU/GPU/memory/storage latency tuning\n"
    L"Software of %ls  \u00B7  %ls\n";

}  // namespace

std::wstring UsageText(const std::wstring& logPath) {
    // Formatted in pieces: the whole text is longer than one formatted message may be.
    return FormatText(kUsageHeader, kVersionText, kPublisherName, kPublisherWebAddress) + L"\nUsage:\n" +
           CommandUsageLines() + L"\n" +
           FormatText(L"Log: %ls\n", logPath.c_str());
}

void PrintUsage() { WriteStd(StdStream::Output, UsageText(LogFilePath())); }
