#include <windows.h>

#include "app/entry.h"
#include "foundation/own_image.h"
#include "foundation/system.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a library: every role may run elevated.
    RestrictDllSearchToSystemFolder();
    // The folder we were started in (Downloads, or one a script chose) is the user's: nothing we
    // do or start may resolve a name against it.
    SetWorkingFolderToSystemFolder();
    HoldOwnImage();
    return ProgramEntry(SplitCommandLine(GetCommandLineW()));
}
