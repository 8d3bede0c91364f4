// Authenticode: a downloaded program runs elevated only when Windows accepts its signature and
// the signer is the publisher expected for it. The check reads the file through the handle that
// holds it, so the bytes checked are the bytes that later run.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "driver/driver_clean.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace {

struct TrustAnswer {
    LONG status = TRUST_E_NOSIGNATURE;
    std::wstring signer;
};

TrustAnswer AskWindows(const HeldFile& file, bool revocation, DWORD providerFlags) {
    WINTRUST_FILE_INFO info{};
    info.cbStruct = sizeof(info);
    info.pcwszFilePath = file.Path().c_str();
    info.hFile = static_cast<HANDLE>(file.Handle());
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // Revocation is checked along the whole chain (a root cannot be revoked this way).
    data.fdwRevocationChecks = revocation ? WTD_REVOKE_WHOLECHAIN : WTD_REVOKE_NONE;
    data.dwProvFlags = (revocation ? WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT : 0) | providerFlags;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    TrustAnswer answer;
    answer.status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (answer.status == ERROR_SUCCESS) {
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (signer != nullptr && signer->csCertChain > 0 && signer->pasCertChain != nullptr && signer->pasCertChain[0].pCert != nullptr) {
            wchar_t name[512] = {};
            CertGetNameStringW(signer->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
            answer.signer = name;
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return answer;
}

bool Unsigned(LONG status) {
    return status == TRUST_E_NOSIGNATURE || status == TRUST_E_SUBJECT_FORM_UNKNOWN || status == TRUST_E_PROVIDER_UNKNOWN;
}

bool RevocationUnknown(LONG status) {
    return status == static_cast<LONG>(CERT_E_REVOCATION_FAILURE) || status == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE) ||
           status == static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK);
}

}  // namespace

bool VerifyPublisherSignature(const HeldFile& file, const std::wstring& publisher, std::wstring& error) {
    error.clear();
    if (!file.Held()) {
        error = L"It could not be opened.";
        return false;
    }
    TrustAnswer answer = AskWindows(file, true, 0);
    if (RevocationUnknown(answer.status)) {
        // Offline: what Windows has cached about revocation decides. With nothing cached at all the
        // signature stands on its own, and the log says so.
        answer = AskWindows(file, true, WTD_CACHE_ONLY_URL_RETRIEVAL);
        if (RevocationUnknown(answer.status)) {
            answer = AskWindows(file, false, 0);
            LogInfo(L"Whether the signature on " + file.Path() + L" was revoked could not be checked (offline, nothing cached).");
        }
    }
    const LONG status = answer.status;
    if (Unsigned(status)) {
        if (publisher.empty()) return true;  // no signature asked for, and none there
        error = L"It carries no signature.";
        return false;
    }
    if (status != ERROR_SUCCESS) {
        error = FormatText(L"Windows did not accept its signature (0x%08X).", static_cast<unsigned>(status));
        return false;
    }
    if (!publisher.empty() && _wcsicmp(answer.signer.c_str(), publisher.c_str()) != 0 &&
        _wcsicmp(answer.signer.c_str(), (publisher + L", Inc.").c_str()) != 0) {
        error = L"It is signed by " + (answer.signer.empty() ? std::wstring(L"an unnamed signer") : answer.signer) + L", not " +
                publisher + L".";
        return false;
    }
    return true;
}

bool CarriesNoSignature(const HeldFile& file) { return file.Held() && Unsigned(AskWindows(file, false, 0).status); }
