#include "foundation/folder_trust.h"

namespace {

bool Administrative(Principal who) { return who == Principal::System || who == Principal::Administrators; }

bool Allows(EntryKind kind) { return kind == EntryKind::Allow || kind == EntryKind::AllowConditional || kind == EntryKind::AllowObject; }

}  // namespace

FolderAccess JudgeFolder(const FolderFacts& facts) {
    FolderAccess access;
    access.othersCanWrite = !facts.hasList;
    bool ownerRightsListed = false;
    bool ownerRightsWrite = false;
    for (const AccessEntry& entry : facts.entries) {
        if (!Allows(entry.kind) || entry.who == Principal::CreatorOwner) continue;
        const bool writes = (entry.mask & kFolderWriteRights) != 0;
        if (entry.who == Principal::OwnerRights) {
            ownerRightsListed = true;
            ownerRightsWrite = ownerRightsWrite || writes;
        }
        // A condition is evaluated at the moment of access, against whatever the caller brings.
        if (writes && (entry.kind != EntryKind::Allow || !Administrative(entry.who))) access.othersCanWrite = true;
    }
    access.ownerTrusted = facts.hasList && (Administrative(facts.owner) || (ownerRightsListed && !ownerRightsWrite));
    return access;
}

bool GuardsWhatIsInside(const FolderFacts& facts) {
    constexpr uint32_t kMoveRights = 0x0040 | 0x00010000 | 0x00040000 | 0x00080000 | 0x10000000;  // delete child, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL
    if (!facts.hasList || !Administrative(facts.owner)) return false;
    for (const AccessEntry& entry : facts.entries) {
        if (!Allows(entry.kind) || entry.inheritOnly || entry.who == Principal::CreatorOwner) continue;
        if ((entry.mask & kMoveRights) != 0 && (entry.kind != EntryKind::Allow || !Administrative(entry.who))) return false;
    }
    return true;
}
