#pragma once
// Programs taken by pin: one release, known by its digest and, where its publisher signs, by the
// publisher's signature. They are downloaded into a folder only administrators can change and
// checked through the handle that then keeps them unchanged, so what was checked is what runs.
#include <atomic>
#include <cstdint>
#include <string>

#include "driver/driver_clean.h"
#include "foundation/files.h"

class Feed;

struct PinnedProgram {
    int kind = SevenZip;     // the vendor host kind its address and every redirect must keep to
    std::wstring url;        // https address of the release
    std::wstring sha256;     // the release's digest
    std::wstring publisher;  // its signer; empty where the publisher does not sign
    std::wstring what;       // how the texts name it ("The 7-Zip installer")
    uint64_t byteLimit = 0x1000000;
};

// Downloads the pin into `path` (made new) and checks it: the digest, a 64-bit program, the
// signature. On success `held` keeps it; otherwise it is deleted and `error` says why ("Stopped."
// when the feed or `stop` asked).
bool FetchPinnedProgram(const DriverTools& tools, const PinnedProgram& pin, const std::wstring& path, Feed* feed,
                        const std::atomic<bool>& stop, HeldFile& held, std::wstring& error);

// PresentMon's pinned release, from the vendor host table.
PinnedProgram PresentMonPin(const VendorHosts& hosts);
// ProgramData\Quorvantis\tools: programs the game check runs.
std::wstring ToolFolder();
// PresentMon's pinned release in the tool folder, downloaded first when it is not there or is not
// that release; held in `held` for as long as it runs. Empty with the reason on failure.
std::wstring EnsurePresentMon(const DriverTools& tools, Feed* feed, const std::atomic<bool>& stop, HeldFile& held,
                              std::wstring& error);
