#pragma once
// SHA-256 on the system's own implementation (CNG), for downloads, held files and signed texts.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256Hasher {
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;
    bool Open() const;
    void Add(const uint8_t* bytes, size_t length);
    // 64 lower-case hex digits; empty when the hasher never opened.
    std::wstring Finish();
    // The 32 bytes; false when the hasher never opened.
    bool FinishBytes(std::array<uint8_t, 32>& digest);

private:
    // The hash object lives in this buffer, so it is declared first and outlives the handles.
    std::string object_;
    // CNG's handles, as owners defined in the source file so callers need no Windows headers.
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

// The digest of a whole file read through an open handle from its first byte; empty on failure.
std::wstring Sha256OfFile(void* file);
