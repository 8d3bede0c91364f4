// Where delay-loaded libraries come from: the system folder, by full path. Libraries outside
// Windows' KnownDLLs are delay-loaded so that Windows does not resolve them before the program
// has restricted its library search; loading each by its full system path also never takes a
// library of the same name that something else already brought into the process from elsewhere.
// Linked into the program itself: the hook must be this object's, not the runtime library's.
#include <windows.h>
#include <delayimp.h>

#include <string>

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    for (const char* c = info->szDll; *c != '\0'; ++c) path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return reinterpret_cast<FARPROC>(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
}
