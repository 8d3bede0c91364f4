#include "foundation/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "foundation/files.h"
#include "foundation/text.h"

Sha256Hasher::Sha256Hasher() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    algorithm_ = algorithm;
    DWORD objectLength = 0, written = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                          sizeof(objectLength), &written, 0))) {
        return;
    }
    object_.resize(objectLength);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, reinterpret_cast<PUCHAR>(object_.data()), objectLength, nullptr, 0, 0))) {
        hash_ = hash;
    }
}

Sha256Hasher::~Sha256Hasher() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void Sha256Hasher::Add(const uint8_t* bytes, size_t length) {
    if (hash_ == nullptr) return;
    while (length > 0) {
        const ULONG part = static_cast<ULONG>(std::min<size_t>(length, 0x40000000));
        BCryptHashData(hash_, const_cast<PUCHAR>(bytes), part, 0);
        bytes += part;
        length -= part;
    }
}

bool Sha256Hasher::FinishBytes(std::array<uint8_t, 32>& digest) {
    if (hash_ == nullptr) return false;
    const bool finished = BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0));
    BCryptDestroyHash(hash_);
    hash_ = nullptr;
    return finished;
}

std::wstring Sha256Hasher::Finish() {
    std::array<uint8_t, 32> digest{};
    if (!FinishBytes(digest)) return {};
    std::wstring hex;
    for (const uint8_t b : digest) hex += FormatText(L"%02x", b);
    return hex;
}

std::wstring Sha256OfFile(void* file) {
    Sha256Hasher hasher;
    if (file == nullptr || !hasher.Open()) return {};
    const bool read = ReadFileChunks(file, [&](const uint8_t* bytes, size_t count) {
        hasher.Add(bytes, count);
        return true;
    });
    return read ? hasher.Finish() : std::wstring();
}
