#include "app/entry.h"
#include "foundation/console.h"
#include "foundation/log.h"

int RunGui(const Options&, const std::vector<std::wstring>&) {
    EnsureConsole();
    LogError(L"This build of Quorvantis has no window yet. Run it with --cli for the console flow, or --help for every command.");
    return 1;
}
