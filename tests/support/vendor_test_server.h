#pragma once
// The local HTTPS server that plays every vendor host (started by CTest before these tests), and
// the host table that points every kind of download at it.
#include <cstdint>
#include <string>

#include "driver/vendor_hosts.h"
#include "update/self_update.h"

class VendorTestServer {
public:
    // Reads the port and makes the test prefix trust the server's test CA (once per process).
    static VendorTestServer& Get();
    bool Ready() const { return port_ != 0 && trusted_; }
    uint16_t Port() const { return port_; }
    const std::wstring& Problem() const { return problem_; }

    // "https://localhost:PORT" + path.
    std::wstring Url(const std::wstring& path) const;
    // The same address by IP, a host no kind allows.
    std::wstring ForeignUrl(const std::wstring& path) const;
    // Every kind allows localhost; composed requests go to it.
    const VendorHosts& Hosts() const { return hosts_; }
    // The publisher's site and media host, both this server.
    const PublisherHosts& Publisher() const { return publisher_; }
    // Places a file the server hands out under /files/NAME (and the fixed vendor paths).
    bool PlaceFile(const std::wstring& name, const std::string& bytes) const;
    bool PlaceFileFrom(const std::wstring& name, const std::wstring& source) const;
    // How many requests reached the server whose line contains the text.
    size_t RequestsContaining(const std::string& text) const;

private:
    VendorTestServer();
    std::wstring folder_;
    uint16_t port_ = 0;
    bool trusted_ = false;
    std::wstring problem_;
    VendorHosts hosts_;
    PublisherHosts publisher_;
};
