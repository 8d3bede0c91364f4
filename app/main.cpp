#include <windows.h>

#include "app/entry.h"
#include "foundation/own_image.h"
#include "foundation/system.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a library: every role may run elevated.
    RestrictDllSearchToSystemFolder();
    HoldOwnImage();
    return ProgramEntry(SplitCommandLine(GetCommandLineW()));
}
