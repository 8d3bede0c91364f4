#pragma once
// Folders the elevated roles write (the data folder with the log and scan files, the install
// folder, the driver folder): only Administrators and SYSTEM may change what is in them, users
// may read. A folder a standard user could write would let them plant or swap what an
// elevated process writes, reads back or runs.
#include <string>

#include "foundation/folder_trust.h"

// Replaced: the folder held something not made by an administrator or SYSTEM; it was moved aside
// and made anew.
enum class FolderSafety { Created, Safe, Repaired, Replaced, Unsafe };

// Who owns a folder and what its access list says: the boundary Wine cannot show (it keeps no
// permissions on files and reports every file as its user's). Tests install a fake that keeps
// owners and lists as Windows does.
class FolderSecurity {
public:
    virtual ~FolderSecurity() = default;
    // False when the security cannot be read (a list that denies administrators, say).
    virtual bool Read(const std::wstring& path, FolderFacts& facts) = 0;
    // Owner Administrators, and only Administrators and SYSTEM may write; users may read, and
    // whoever owns something made inside may do no more than users.
    virtual bool Protect(const std::wstring& path) = 0;
    virtual bool CreateProtected(const std::wstring& path) = 0;
    // Takes the folder (or file) over by the administrators' privilege, whatever its list says,
    // and gives it the protected list, so that it can be moved.
    virtual bool TakeOwnership(const std::wstring& path) = 0;
    // Renames the folder or file (MoveFileExW without replacing).
    virtual bool MoveAside(const std::wstring& from, const std::wstring& to) = 0;
};
FolderSecurity& CurrentFolderSecurity();
void SetFolderSecurity(FolderSecurity* security);  // null: the real one

// Creates the folder with that protection, or checks an existing one and repairs its owner
// and permissions (a junction in its place is removed and the folder created anew). Only an
// elevated process can do either; any other process just creates a missing folder and gets
// Safe, since it writes nothing a standard user could not.
FolderSafety EnsureProtectedFolder(const std::wstring& path);

// The data folder, prepared before the first write (and again should it vanish). Anyone may
// create folders under ProgramData before our first run, and whatever they put inside would keep
// them as its owner; so when the folder or anything in it was not made by an administrator or
// SYSTEM, or others may write it, the whole folder is moved aside and made anew, never repaired in
// place. A file in its place, or a folder whose list shuts administrators out, is taken over and
// moved aside the same way. Unsafe: an elevated process must not write there (it could not be
// made safe).
FolderSafety PrepareDataDirectory();

// Whether the folder and everything in it (no links, no junctions) were made by administrators or
// SYSTEM and nobody else may change them.
bool FolderTreeIsOurs(const std::wstring& path);

// Whether a program may be started with administrator rights by something that outlives us (a
// logon task at the highest run level): the file and its folder are ours (FolderTreeIsOurs's
// test for each) and every folder above keeps anybody else from moving them away.
bool ProgramIsProtected(const std::wstring& program);

// The log line that says a folder was repaired.
std::wstring FolderRepairNote(const std::wstring& path);
// The log line that says the data folder was moved aside to the given place and made anew.
std::wstring FolderReplacedNote(const std::wstring& path, const std::wstring& aside);
// Where the data folder was last moved aside to (empty when it never was).
std::wstring DataFolderMovedAside();
