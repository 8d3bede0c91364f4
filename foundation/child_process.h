#pragma once
// How every child process is started: by full path, with an environment made from the system
// (ChildBlock) and a temporary folder of its own, and with the system folder as its current
// folder unless it is given a working folder. Nothing of this process's own environment or
// current folder, which the user who started it could have chosen, reaches a child that runs
// with our rights.
#include <windows.h>

#include <string>

class ChildLaunch {
public:
    ChildLaunch();
    // The temporary folder goes with the launch, unless the child may still be running.
    ~ChildLaunch();
    ChildLaunch(const ChildLaunch&) = delete;
    ChildLaunch& operator=(const ChildLaunch&) = delete;

    // CreateProcessW with the child's environment and folder. False with the system's error
    // set when it cannot start: a program path that is not a full path is refused
    // (ERROR_BAD_PATHNAME), as is a launch whose temporary folder could not be made.
    bool Start(const std::wstring& program, std::wstring& commandLine, const std::wstring& workingFolder, DWORD flags,
               STARTUPINFOW& startup, bool inheritHandles, PROCESS_INFORMATION& process);
    // The child outlived the wait for it: its temporary folder stays.
    void KeepTemporaryFolder() { keep_ = true; }
    const std::wstring& Environment() const { return block_; }

private:
    std::wstring temp_;
    std::wstring block_;
    bool ownTemp_ = false;
    bool keep_ = false;
};

// Removes the temporary folders that children of processes no longer running left behind (a
// child that outlived its wait, a process that was ended). Elevated processes only.
void RemoveStaleChildFolders();

// Whether the path names a file by its full path (a drive and a backslash, or a UNC or device
// path): a relative or drive-relative path would be resolved against a folder somebody else
// may choose.
bool IsFullPath(const std::wstring& path);
