#pragma once
// The self-update: the publisher's signed update list, the verified download and the in-place
// replacement of the running and the installed copies.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/files.h"
#include "foundation/outcome.h"
#include "update/app_update.h"
#include "update/update_text.h"

// The publisher's hosts: its site (update list and download counter, also under "www.") and its
// media host (update files). Lower-case names; the authorities add a port in tests.
struct PublisherHosts {
    std::wstring site, media;
    std::wstring siteAuthority, mediaAuthority;
};

// Where updates come from and who signs their lists. The product's is fixed; tests pass theirs.
struct UpdateSource {
    PublisherHosts hosts;
    std::vector<uint8_t> publicKey;  // ECDSA P-256: X then Y, 32 bytes each
};
const UpdateSource& ProductUpdateSource();

using UpdateStatus = std::function<void(const std::wstring&)>;

// True when a newer, correctly signed version is published: newer than this copy and than the
// copy installed under Program Files.
bool CheckForAppUpdate(const UpdateSource& source, const std::wstring& current, AppUpdate& update, const std::atomic<bool>& cancel,
                       std::wstring& error);
// The "signature2" over every field of the list.
bool VerifyUpdateSignature(const UpdateSource& source, const AppUpdate& update, const std::wstring& signatureBase64,
                           std::wstring& error);
// Downloads into a file made new at the path and, once its digest, size, machine and version are
// right, leaves it held in `held` (nobody can change it until the caller lets go). On failure the
// file is gone.
bool DownloadAndVerifyUpdate(const UpdateSource& source, const AppUpdate& update, const std::wstring& file, HeldFile& held,
                             const UpdateStatus& status, const std::atomic<bool>& cancel, std::wstring& error);
bool ReadFileVersion(const std::wstring& path, Version& version, std::wstring& error);
// Puts the held (verified) file in the target's place: written beside as "<target>.new" and
// flushed, the target renamed to "<target>.old", the new copy renamed in, both renames written
// through. The new copy must then be a 64-bit program with exactly the held bytes, or the old
// one comes back; a target that is not running loses its ".old" once the new copy passed.
bool ReplaceExecutable(const std::wstring& target, const HeldFile& source, HeldFile& placed, std::wstring& error);
// Done once both copies are replaced; Failed says why (and is in the log); Stopped when cancelled.
Outcome ApplyAppUpdate(const UpdateSource& source, const AppUpdate& update, const UpdateStatus& status,
                       const std::atomic<bool>& cancel);
// At start, under the single-instance lock: an installed copy that an interrupted update left
// missing or broken is put back from its ".old" copy.
void RecoverInterruptedUpdate();
// ".old" copies whose program is whole again are deleted.
void RemoveOldCopies();
// Starts the updated program; the new file stays held against writes until the process exists.
bool RelaunchSelf();
