#pragma once
// Files and folders the elevated roles work with. Work folders are made new for each run and
// files are created new, never taken over from whoever made them first; a file that is checked
// and then run or copied is held from the check to its use, so nobody can swap it in between.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Creates the folder and each missing parent. Inside the data folder nothing is made before the
// data folder is safe (PrepareDataDirectory); what is made there inherits its protection.
bool EnsureFolder(const std::wstring& path);

// Deletes everything below the path and the path itself, never following a junction or link out
// of the tree. True when nothing is left, or nothing was there.
bool RemoveTree(const std::wstring& path);

// A work folder made new for one run: what was there is removed first. False, with the words
// for the user, when it cannot be removed or made (another program holds it, or it came back).
bool CreateFreshFolder(const std::wstring& path, std::wstring& error);

// A file made new: an old one is deleted first and the new one is created exclusively
// (CREATE_NEW), for writing, with others allowed only to read it. Null when either fails; the
// caller owns the handle.
void* CreateNewFile(const std::wstring& path);
// A file made new as CreateNewFile does, holding exactly the bytes; false when it cannot be.
bool WriteNewFile(const std::wstring& path, std::string_view bytes);

// Whether the file begins with the two bytes "MZ" of a Windows executable.
bool IsExecutableFile(const std::wstring& path);

// Positioned reads through an open handle: whatever was read through it before does not matter.
// ReadFileAt reads up to length bytes at the offset (read is 0 at the end of the file);
// ReadFileChunks hands the whole file from its start to the sink, chunk by chunk, and is false
// when a read fails or the sink returns false.
bool ReadFileAt(void* file, uint64_t offset, void* into, uint32_t length, uint32_t& read);
bool ReadFileChunks(void* file, const std::function<bool(const uint8_t* bytes, size_t count)>& sink);

// NotExecutable: not "MZ"; NotPe: "MZ" without a PE header; then the machine the PE header names.
enum class ExecutableKind { NotExecutable, NotPe, X64, OtherMachine };
// Reads the DOS and PE headers through an open handle.
ExecutableKind ExecutableKindOf(void* file);

// A file held open for reading from the moment it is checked until it has been used: while it
// is held nobody can write, rename or delete it, so what was checked is what runs or is copied.
class HeldFile {
public:
    HeldFile() = default;
    explicit HeldFile(const std::wstring& path);
    ~HeldFile();
    HeldFile(HeldFile&& other) noexcept;
    HeldFile& operator=(HeldFile&& other) noexcept;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool Held() const { return handle_ != nullptr; }
    void* Handle() const { return handle_; }
    const std::wstring& Path() const { return path_; }
    bool Size(uint64_t& size) const;
    // SHA-256 of the whole file as held, 64 lower-case hex digits; empty on failure.
    std::wstring Sha256() const;
    ExecutableKind Kind() const;
    void Release();

private:
    void* handle_ = nullptr;
    std::wstring path_;
};
