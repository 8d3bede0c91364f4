#pragma once
// Whether a folder is ours to write in, judged from what its security says: who owns it and what
// its access list allows. Pure, so every case a user's program could set up can be pinned.
#include <cstdint>
#include <vector>

// Who an entry names, as far as trust goes. System includes the system's own installer service
// (TrustedInstaller). ThisUser is the account this process runs as: an elevated administrator's
// own account is also the account of every program she runs without elevation, so it is
// trusted no more than anybody else. OwnerRights (S-1-3-4) stands for whoever owns the folder;
// CreatorOwner (S-1-3-0) only for whoever makes something inside, which takes the right to
// make it first.
enum class Principal { System, Administrators, OwnerRights, CreatorOwner, ThisUser, Other };

// Conditional (callback) entries grant by a condition that is only evaluated at access time,
// object entries by an object type: both may let someone in, whoever they name.
enum class EntryKind { Allow, AllowConditional, AllowObject, Deny, Other };

struct AccessEntry {
    Principal who = Principal::Other;
    EntryKind kind = EntryKind::Allow;
    uint32_t mask = 0;
    bool inheritOnly = false;  // reaches only what is made inside, not the folder itself
};

struct FolderFacts {
    Principal owner = Principal::Other;
    bool hasList = true;  // a folder without an access list lets everyone in
    std::vector<AccessEntry> entries;
};

struct FolderAccess {
    bool ownerTrusted = false;   // the owner cannot give itself more than administrators allow
    bool othersCanWrite = true;  // anyone but SYSTEM and Administrators may write, delete or change permissions
};

// The rights that let someone change a folder or what is in it, whatever else they grant.
inline constexpr uint32_t kFolderWriteRights = 0x0002 | 0x0004 | 0x0010 | 0x0040 | 0x0100 |  // data, append, EA, delete child, attributes
                                               0x00010000 | 0x00040000 | 0x00080000 |        // DELETE, WRITE_DAC, WRITE_OWNER
                                               0x40000000 | 0x10000000;                       // GENERIC_WRITE, GENERIC_ALL

// The owner is trusted when it is SYSTEM or Administrators, or when an OWNER RIGHTS entry that
// grants no write takes the place of what an owner may otherwise always do (change the access
// list). Others can write when there is no list, when an allow entry for anyone but SYSTEM and
// Administrators grants a write right, or when any conditional or object allow entry does.
FolderAccess JudgeFolder(const FolderFacts& facts);

// Whether a folder above a program keeps it where it is: nobody but SYSTEM and Administrators
// owns it or may delete, rename what is inside (delete child) or change its list. Adding new
// files or folders is allowed (the root of a drive lets everyone do that).
bool GuardsWhatIsInside(const FolderFacts& facts);
