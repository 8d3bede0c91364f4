// Authenticode: a downloaded program runs elevated only when Windows accepts its signature and
// the signer is the publisher expected for it.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "foundation/text.h"
#include "driver/driver_clean.h"

bool VerifyPublisherSignature(const std::wstring& path, const std::wstring& publisher, std::wstring& error) {
    error.clear();
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    std::wstring signer;
    if (status == ERROR_SUCCESS) {
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* sgnr = provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (sgnr != nullptr && sgnr->csCertChain > 0 && sgnr->pasCertChain != nullptr && sgnr->pasCertChain[0].pCert != nullptr) {
            wchar_t name[512] = {};
            CertGetNameStringW(sgnr->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
            signer = name;
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    if (status == TRUST_E_NOSIGNATURE || status == TRUST_E_SUBJECT_FORM_UNKNOWN || status == TRUST_E_PROVIDER_UNKNOWN) {
        error = L"It carries no signature.";
        return false;
    }
    if (status != ERROR_SUCCESS) {
        error = FormatText(L"Windows did not accept its signature (0x%08X).", static_cast<unsigned>(status));
        return false;
    }
    if (_wcsicmp(signer.c_str(), publisher.c_str()) != 0) {
        error = L"It is signed by " + (signer.empty() ? std::wstring(L"an unnamed signer") : signer) + L", not " + publisher + L".";
        return false;
    }
    return true;
}
