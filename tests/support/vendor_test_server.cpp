#include "support/vendor_test_server.h"

#include <windows.h>
#include <wincrypt.h>

#include <sstream>

#include "foundation/text.h"
#include "support/test_support.h"

namespace {

// Adds the CA to the machine's trusted roots of this prefix, as an administrator would.
bool TrustCertificate(const std::string& pem, std::wstring& problem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        problem = L"the test CA could not be decoded";
        return false;
    }
    std::string der(size, '\0');
    CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        problem = FormatText(L"the machine's root store could not be opened (%lu)", GetLastError());
        return false;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                        size, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD code = GetLastError();
    CertCloseStore(store, 0);
    if (!added) problem = FormatText(L"the test CA could not be trusted (%lu)", code);
    return added != FALSE;
}

}  // namespace

VendorTestServer& VendorTestServer::Get() {
    static VendorTestServer server;
    return server;
}

VendorTestServer::VendorTestServer() : folder_(BinDirectory() + L"\\vendor-server") {
    const std::string port = ReadFileBytes(folder_ + L"\\port");
    port_ = static_cast<uint16_t>(std::atoi(port.c_str()));
    if (port_ == 0) {
        problem_ = L"the vendor test server is not running (CTest starts it with scripts/vendor-server.sh)";
        return;
    }
    trusted_ = TrustCertificate(ReadFileBytes(folder_ + L"\\ca.pem"), problem_);
    const std::wstring authority = FormatText(L"localhost:%u", static_cast<unsigned>(port_));
    for (auto& allowed : hosts_.allowed) allowed = {L"localhost"};
    hosts_.nvidiaLookup = hosts_.packageGallery = hosts_.sevenZipWeb = hosts_.amdSupport = hosts_.afterburnerMirror =
        hosts_.presentMonWeb = authority;
    hosts_.sevenZipInstaller = L"/a/7z2600-x64.exe";
    hosts_.presentMonRelease = ProductVendorHosts().presentMonRelease;
    publisher_ = {L"localhost", L"localhost", authority, authority};
}

std::wstring VendorTestServer::Url(const std::wstring& path) const {
    return FormatText(L"https://localhost:%u", static_cast<unsigned>(port_)) + path;
}

std::wstring VendorTestServer::ForeignUrl(const std::wstring& path) const {
    return FormatText(L"https://127.0.0.1:%u", static_cast<unsigned>(port_)) + path;
}

bool VendorTestServer::PlaceFile(const std::wstring& name, const std::string& bytes) const {
    CreateDirectoryW((folder_ + L"\\files").c_str(), nullptr);
    return WriteFileBytes(folder_ + L"\\files\\" + name, bytes);
}

bool VendorTestServer::PlaceFileFrom(const std::wstring& name, const std::wstring& source) const {
    CreateDirectoryW((folder_ + L"\\files").c_str(), nullptr);
    return CopyFileW(source.c_str(), (folder_ + L"\\files\\" + name).c_str(), FALSE) != FALSE;
}

size_t VendorTestServer::RequestsContaining(const std::string& text) const {
    std::istringstream lines(ReadFileBytes(folder_ + L"\\requests.log"));
    size_t count = 0;
    for (std::string line; std::getline(lines, line);) count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}
