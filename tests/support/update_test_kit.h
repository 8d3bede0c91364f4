#pragma once
// The publisher's side of the self-update for tests: a signing key of its own, and update lists
// and files placed on the local vendor server.
#include <cstdint>
#include <string>
#include <vector>

#include "update/app_update.h"
#include "update/self_update.h"

class UpdateSigner {
public:
    UpdateSigner();
    ~UpdateSigner();
    bool Ready() const { return key_ != nullptr; }
    const std::vector<uint8_t>& PublicKey() const { return publicKey_; }
    std::wstring Sign(const AppUpdate& update) const;  // base64 of r || s over the full signed text

private:
    void* algorithm_ = nullptr;
    void* key_ = nullptr;
    std::vector<uint8_t> publicKey_;
};

// The list as the publisher's script writes it, with "signature2"; signature empty leaves the key out.
std::string UpdateListJson(const AppUpdate& update, const std::wstring& signature);
// The bytes of the test executable that says it is version 2.7.0.0.
std::string Version270Executable();
