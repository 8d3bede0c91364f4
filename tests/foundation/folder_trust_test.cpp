// Whose folder it is, from its owner and its list: every way another program could have set up a
// folder before the elevated program writes in it.
#include <gtest/gtest.h>

#include "foundation/folder_trust.h"

namespace {

constexpr uint32_t kFull = 0x1F01FF;
constexpr uint32_t kReadExecute = 0x1200A9;

FolderFacts Facts(Principal owner, std::vector<AccessEntry> entries) {
    FolderFacts facts;
    facts.owner = owner;
    facts.entries = std::move(entries);
    return facts;
}

bool Ours(const FolderFacts& facts) {
    const FolderAccess access = JudgeFolder(facts);
    return access.ownerTrusted && !access.othersCanWrite;
}

const AccessEntry kSystemFull{Principal::System, EntryKind::Allow, kFull};
const AccessEntry kAdministratorsFull{Principal::Administrators, EntryKind::Allow, kFull};
const AccessEntry kUsersRead{Principal::Other, EntryKind::Allow, kReadExecute};

}  // namespace

TEST(FolderTrust, OnlySystemAndAdministratorsOwnAFolderOfOurs) {
    EXPECT_TRUE(Ours(Facts(Principal::Administrators, {kSystemFull, kAdministratorsFull, kUsersRead})));
    EXPECT_TRUE(Ours(Facts(Principal::System, {kSystemFull, kAdministratorsFull})));
    // The elevating administrator's own account owns what her unelevated programs made: they
    // could change the list and write anything in it.
    EXPECT_FALSE(JudgeFolder(Facts(Principal::ThisUser, {kSystemFull, kAdministratorsFull})).ownerTrusted);
    EXPECT_FALSE(JudgeFolder(Facts(Principal::Other, {kSystemFull, kAdministratorsFull})).ownerTrusted);
    // A list that lets that account write is as bad, whoever owns the folder.
    EXPECT_TRUE(JudgeFolder(Facts(Principal::Administrators, {kAdministratorsFull, {Principal::ThisUser, EntryKind::Allow, kFull}}))
                    .othersCanWrite);
}

TEST(FolderTrust, OwnerRightsThatGrantNoWriteTakeAwayWhatAnOwnerMayAlwaysDo) {
    const AccessEntry ownerRead{Principal::OwnerRights, EntryKind::Allow, kReadExecute};
    // A file made inside by the administrator's own account (Windows set to make the creator the
    // owner) inherits OWNER RIGHTS read: owning it gives nothing.
    EXPECT_TRUE(Ours(Facts(Principal::ThisUser, {kSystemFull, kAdministratorsFull, kUsersRead, ownerRead})));
    EXPECT_FALSE(JudgeFolder(Facts(Principal::ThisUser, {kAdministratorsFull, {Principal::OwnerRights, EntryKind::Allow, kFull}}))
                     .ownerTrusted);
    EXPECT_FALSE(Ours(Facts(Principal::ThisUser, {kAdministratorsFull, ownerRead, {Principal::OwnerRights, EntryKind::Allow, 0x2}})));
}

TEST(FolderTrust, AnyEntryThatMayLetSomeoneElseWriteCounts) {
    // No list at all lets everyone in.
    FolderFacts open = Facts(Principal::Administrators, {});
    open.hasList = false;
    EXPECT_TRUE(JudgeFolder(open).othersCanWrite);
    EXPECT_FALSE(JudgeFolder(open).ownerTrusted);
    // Each write right on its own, and the generic ones an inherit-only entry carries.
    for (const uint32_t right : {0x2u, 0x4u, 0x40u, 0x10000u, 0x40000u, 0x80000u, 0x40000000u, 0x10000000u}) {
        EXPECT_TRUE(JudgeFolder(Facts(Principal::Administrators, {kAdministratorsFull, {Principal::Other, EntryKind::Allow, right}}))
                        .othersCanWrite)
            << right;
    }
    // A conditional entry is decided at access time, against whatever the caller brings; an
    // object entry by a type we cannot see: either may let anyone in, even naming administrators.
    EXPECT_TRUE(
        JudgeFolder(Facts(Principal::Administrators, {kAdministratorsFull, {Principal::Other, EntryKind::AllowConditional, kFull}}))
            .othersCanWrite);
    EXPECT_TRUE(JudgeFolder(Facts(Principal::Administrators, {{Principal::Administrators, EntryKind::AllowConditional, kFull}}))
                    .othersCanWrite);
    EXPECT_TRUE(
        JudgeFolder(Facts(Principal::Administrators, {kAdministratorsFull, {Principal::Other, EntryKind::AllowObject, 0x2}})).othersCanWrite);
    // Reading, and denying, change nothing.
    EXPECT_TRUE(Ours(Facts(Principal::Administrators,
                           {kAdministratorsFull, kUsersRead, {Principal::Other, EntryKind::Deny, kFull}, {Principal::Other, EntryKind::AllowConditional, kReadExecute}})));
}

// The folders above a program only need to keep it where it is: the root of a drive lets
// everyone add folders, and an entry for whoever makes something inside reaches only that.
TEST(FolderTrust, AFolderAboveAProgramGuardsItWhenNobodyElseCanMoveItAway) {
    const AccessEntry addFolders{Principal::Other, EntryKind::Allow, 0x4};                    // Authenticated Users on a drive root
    const AccessEntry modifyInside{Principal::Other, EntryKind::Allow, 0x1301BF, true};       // ...inherit-only Modify
    const AccessEntry creatorFull{Principal::CreatorOwner, EntryKind::Allow, 0x10000000, true};
    EXPECT_TRUE(GuardsWhatIsInside(Facts(Principal::System, {kSystemFull, kAdministratorsFull, kUsersRead, addFolders, modifyInside})));
    EXPECT_TRUE(GuardsWhatIsInside(Facts(Principal::System, {kSystemFull, kAdministratorsFull, kUsersRead, creatorFull})));
    // A folder made right under the root inherits that Modify: anyone may delete and replace what is in it.
    EXPECT_FALSE(GuardsWhatIsInside(Facts(Principal::Administrators, {kAdministratorsFull, {Principal::Other, EntryKind::Allow, 0x1301BF}})));
    EXPECT_FALSE(GuardsWhatIsInside(Facts(Principal::ThisUser, {kAdministratorsFull})));
    EXPECT_FALSE(GuardsWhatIsInside(Facts(Principal::Administrators, {{Principal::Other, EntryKind::Allow, 0x40}})));
    // The program's own folder is held to the stricter test: no one else may write there at all,
    // though an entry for whoever makes something inside counts for nothing.
    EXPECT_TRUE(Ours(Facts(Principal::Administrators, {kSystemFull, kAdministratorsFull, kUsersRead, creatorFull})));
    EXPECT_FALSE(Ours(Facts(Principal::Administrators, {kSystemFull, kAdministratorsFull, modifyInside})));
}
