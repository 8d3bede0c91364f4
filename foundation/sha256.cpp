#include "foundation/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "foundation/files.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

struct Sha256Hasher::Handles {
    UniqueAlgorithm algorithm;
    UniqueHash hash;
};

Sha256Hasher::Sha256Hasher() : handles_(std::make_unique<Handles>()) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(handles_->algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    DWORD objectLength = 0, written = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(handles_->algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                          sizeof(objectLength), &written, 0))) {
        return;
    }
    object_.resize(objectLength);
    BCryptCreateHash(handles_->algorithm.get(), handles_->hash.put(), reinterpret_cast<PUCHAR>(object_.data()), objectLength, nullptr,
                     0, 0);
}

Sha256Hasher::~Sha256Hasher() = default;

bool Sha256Hasher::Open() const { return static_cast<bool>(handles_->hash); }

void Sha256Hasher::Add(const uint8_t* bytes, size_t length) {
    if (!handles_->hash) return;
    while (length > 0) {
        const ULONG part = static_cast<ULONG>(std::min<size_t>(length, 0x40000000));
        BCryptHashData(handles_->hash.get(), const_cast<PUCHAR>(bytes), part, 0);
        bytes += part;
        length -= part;
    }
}

bool Sha256Hasher::FinishBytes(std::array<uint8_t, 32>& digest) {
    if (!handles_->hash) return false;
    const bool finished = BCRYPT_SUCCESS(BCryptFinishHash(handles_->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    handles_->hash.reset();
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
