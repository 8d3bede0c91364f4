#pragma once
// What the Afterburner step reads and writes as text: the configuration keys, the scanner's status
// line, the profile file's sections and Afterburner's control shared memory layout. Pure, so every
// malformed file or status can be tried without the programs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Sets an existing key: the line that starts with it (at the start of the text or after a newline)
// becomes "<key> = <value>" up to its newline. A key that does not occur is left absent (false).
bool SetConfigKey(std::string& text, std::string_view key, std::string_view value);

enum class ScanOutcome { Running, Succeeded, Failed };
ScanOutcome ClassifyScanStatus(std::wstring_view status);
// Whether any of "Start scanning", "Resume scanning", "Scanning point" occurs.
bool ScanActivitySeen(std::wstring_view status);
// N / M from the first "Scanning point N of M" with M > 0.
bool ScanProgress(std::wstring_view status, double& fraction);

// Copies the scanned curve keys from [Startup] onto [Profile1]. False (text untouched) when there
// is no Startup section, nothing to copy, or the two VFCurve lines then differ; resultLine says
// what profile 1 applies.
bool CopyStartupToProfile1(const std::string& text, std::string& copied, std::wstring& resultLine);

// Afterburner's control shared memory, as its SDK header (MACMSharedMemory.h, v2.x) lays it out:
// a header whose own fields give its size and the GPU entries' size, then the entries directly
// after it. In an entry the flag word comes first and the GPU identifier follows the voltage/
// frequency curve, 3500 bytes in (MAX_PATH characters).
inline constexpr uint32_t kMacmSignature = 0x4D41434D;
inline constexpr size_t kMacmHeaderMinimum = 36;
inline constexpr size_t kMacmEntrySize = 3760;  // the smallest entry that holds the identifier
inline constexpr size_t kMacmCommandOffset = 32;
inline constexpr size_t kMacmIdentifierOffset = 3500;
inline constexpr size_t kMacmFlagsOffset = 0;
inline constexpr uint32_t kMacmApplyCommand = 0x00AB0001;
// The header as it was read once: any program in the session may create the mapping first and
// change it at any time, so what was checked is a copy, never the live bytes.
struct MacmHeader {
    uint32_t headerSize = 0;
    uint32_t count = 0;
    uint32_t entrySize = 0;
};
// Copies the header out of a mapping of the given size; false unless the signature matches, the
// stated header size is at least 36 and within the mapping and the entry size is at least 3760.
bool ReadMacmHeader(const uint8_t* mapping, size_t size, MacmHeader& header);
// The first GPU entry (at the header's size plus its index times the entry size) whose identifier
// starts with "VEN_10DE" and whose flag word is non-zero; -1 when there is none. Only the copied
// header is used, each entry is copied before it is looked at, and entries beyond the mapping are
// never read.
int MacmNvidiaEntry(const MacmHeader& header, const uint8_t* mapping, size_t size, std::string& identifier);
// Whether an identifier read from the shared memory (which any program in the session can create
// first) may name a profile file: letters, digits, "&" and "_" only, 1 to 220 of them.
bool SafeProfileIdentifier(std::string_view identifier);
