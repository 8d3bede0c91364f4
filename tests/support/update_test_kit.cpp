#include "support/update_test_kit.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include "foundation/text.h"
#include "support/test_support.h"
#include "update/update_text.h"

UpdateSigner::UpdateSigner() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return;
    algorithm_ = algorithm;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm, &key, 256, 0)) || !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key, 0))) return;
    ULONG size = 0;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    if (!BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(), static_cast<ULONG>(blob.size()), &size, 0)) ||
        size != blob.size()) {
        BCryptDestroyKey(key);
        return;
    }
    publicKey_.assign(blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB), blob.end());
    key_ = key;
}

UpdateSigner::~UpdateSigner() {
    if (key_ != nullptr) BCryptDestroyKey(key_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

std::wstring UpdateSigner::Sign(const AppUpdate& update) const {
    const std::string text = SignedUpdateText(update);
    uint8_t digest[32];
    BCRYPT_ALG_HANDLE sha = nullptr;
    BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptHash(sha, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())), static_cast<ULONG>(text.size()), digest, 32);
    BCryptCloseAlgorithmProvider(sha, 0);
    uint8_t signature[64];
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(BCryptSignHash(key_, nullptr, digest, 32, signature, 64, &size, 0)) || size != 64) return {};
    DWORD chars = 0;
    CryptBinaryToStringW(signature, 64, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &chars);
    std::wstring out(chars, L'\0');
    CryptBinaryToStringW(signature, 64, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, out.data(), &chars);
    out.resize(chars);
    return out;
}

std::string UpdateListJson(const AppUpdate& update, const std::wstring& signature) {
    std::string json = "{\"version\":\"" + ToUtf8(update.version) + "\",\"url\":\"" + ToUtf8(update.url) + "\",\"sha256\":\"" +
                       ToUtf8(update.sha256) + "\",\"size\":" + std::to_string(update.size) + ",\"notes\":\"" + ToUtf8(update.notes) + "\"";
    if (!signature.empty()) json += ",\"signature2\":\"" + ToUtf8(signature) + "\"";
    return json + "}";
}

std::string Version270Executable() { return ReadFileBytes(BinDirectory() + L"\\fake_update_270.exe"); }
