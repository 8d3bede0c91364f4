#include "foundation/environment_block.h"

#include <cwctype>

namespace {

// Whether the entry ("NAME=value") is the variable; entries starting with "=" (per-drive folders) never are.
bool Names(std::wstring_view entry, std::wstring_view name) {
    if (entry.size() <= name.size() || entry[name.size()] != L'=') return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::towupper(entry[i]) != std::towupper(name[i])) return false;
    }
    return true;
}

template <typename Visit>
void ForEachEntry(std::wstring_view block, Visit visit) {
    size_t at = 0;
    while (at < block.size() && block[at] != L'\0') {
        const size_t end = block.find(L'\0', at);
        const std::wstring_view entry = block.substr(at, end == std::wstring_view::npos ? std::wstring_view::npos : end - at);
        visit(entry);
        if (end == std::wstring_view::npos) break;
        at = end + 1;
    }
}

}  // namespace

std::wstring WithVariable(std::wstring_view block, std::wstring_view name, std::wstring_view value) {
    std::wstring out;
    bool replaced = false;
    ForEachEntry(block, [&](std::wstring_view entry) {
        if (Names(entry, name)) {
            if (replaced) return;  // a second spelling of the same name goes
            out.append(name).append(L"=").append(value);
            replaced = true;
        } else {
            out.append(entry);
        }
        out.push_back(L'\0');
    });
    if (!replaced) {
        out.append(name).append(L"=").append(value);
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

std::wstring VariableIn(std::wstring_view block, std::wstring_view name) {
    std::wstring value;
    bool found = false;
    ForEachEntry(block, [&](std::wstring_view entry) {
        if (!found && Names(entry, name)) {
            value.assign(entry.substr(name.size() + 1));
            found = true;
        }
    });
    return value;
}

std::wstring ChildBlock(std::wstring_view systemBlock, const ChildPlaces& places) {
    const std::wstring& system = places.systemFolder;
    std::wstring block(systemBlock);
    // The system's own variables name the Windows folder; a system block that lacks them still
    // gives the child a working system.
    block = WithVariable(block, L"SystemRoot", places.windowsFolder);
    block = WithVariable(block, L"windir", places.windowsFolder);
    if (places.windowsFolder.size() >= 2) block = WithVariable(block, L"SystemDrive", places.windowsFolder.substr(0, 2));
    if (VariableIn(block, L"ComSpec").empty()) block = WithVariable(block, L"ComSpec", system + L"\\cmd.exe");
    block = WithVariable(block, L"Path", system + L";" + places.windowsFolder + L";" + system + L"\\Wbem;" + system +
                                             L"\\WindowsPowerShell\\v1.0\\");
    block = WithVariable(block, L"PSModulePath", system + L"\\WindowsPowerShell\\v1.0\\Modules");
    block = WithVariable(block, L"TEMP", places.temp);
    block = WithVariable(block, L"TMP", places.temp);
    if (!places.programData.empty()) {
        block = WithVariable(block, L"ProgramData", places.programData);
        block = WithVariable(block, L"ALLUSERSPROFILE", places.programData);
    }
    if (!places.profile.empty()) {
        block = WithVariable(block, L"USERPROFILE", places.profile);
        block = WithVariable(block, L"APPDATA", places.profile + L"\\AppData\\Roaming");
        block = WithVariable(block, L"LOCALAPPDATA", places.profile + L"\\AppData\\Local");
    }
    if (!places.userName.empty()) block = WithVariable(block, L"USERNAME", places.userName);
    return block;
}
