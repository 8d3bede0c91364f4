#include "update/update_text.h"

#include <cwctype>

#include "foundation/json_reader.h"
#include "foundation/text.h"

namespace {

bool Hex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

}  // namespace

bool ParseVersion(std::wstring_view text, Version& version) {
    version = {0, 0, 0, 0};
    if (text.empty() || text.size() > 32) return false;
    size_t component = 0, at = 0;
    while (true) {
        if (component >= 4) return false;
        const size_t start = at;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
            value = value * 10 + static_cast<uint32_t>(text[at] - L'0');
            if (value > 65535) return false;
            ++at;
        }
        if (at == start) return false;
        version[component++] = value;
        if (at == text.size()) return true;
        if (text[at] != L'.') return false;
        ++at;
    }
}

int CompareVersions(const Version& a, const Version& b) {
    for (size_t i = 0; i < 4; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

std::wstring VersionText(const Version& v) {
    return v[3] != 0 ? FormatText(L"%u.%u.%u.%u", v[0], v[1], v[2], v[3]) : FormatText(L"%u.%u.%u", v[0], v[1], v[2]);
}

ListError ParseUpdateList(std::string_view json, AppUpdate& update, UpdateSignatures& signatures) {
    update = AppUpdate{};
    signatures = UpdateSignatures{};
    const std::optional<JsonValue> list = ParseJson(json);
    if (!list) return ListError::NotJson;
    if (list->kind != JsonValue::Kind::Object) return ListError::NotObject;
    // In the list's order, so a key given twice ends with its last string.
    for (const auto& [key, value] : list->members) {
        if (value.kind == JsonValue::Kind::String) {
            if (key == "version") update.version = value.text;
            else if (key == "url") update.url = value.text;
            else if (key == "notes") update.notes = value.text;
            else if (key == "sha256") update.sha256 = value.text;
            else if (key == "signature") signatures.legacy = value.text;
            else if (key == "signature2") signatures.full = value.text;
        } else if (key == "size" && value.kind == JsonValue::Kind::Number && !value.Negative()) {
            // A size the download could not be checked against is no list to trust.
            if (!value.WholeNumber(update.size)) return ListError::NotJson;
        }
    }
    return ListError::None;
}

bool AllowedDownloadPath(std::wstring_view path) {
    const std::wstring lower = LowerCase(path);
    if (lower == L"/quorvantis.exe") return true;
    constexpr std::wstring_view kPrefix = L"/quorvantis-", kSuffix = L".exe";
    if (lower.size() <= kPrefix.size() + kSuffix.size() || lower.compare(0, kPrefix.size(), kPrefix) != 0 ||
        lower.compare(lower.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
        return false;
    }
    const std::wstring release = lower.substr(kPrefix.size(), lower.size() - kPrefix.size() - kSuffix.size());
    if (release.empty() || release.size() > 64 || release.find(L"..") != std::wstring::npos) return false;
    for (const wchar_t c : release) {
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == L'_';
        if (!ok) return false;
    }
    return true;
}

std::wstring NormaliseSha256(std::wstring_view text) {
    std::wstring out;
    for (const wchar_t c : text) {
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') continue;
        out += static_cast<wchar_t>(std::towlower(c));
    }
    if (out.size() != 64) return {};
    for (const wchar_t c : out) {
        if (!Hex(c)) return {};
    }
    return out;
}

std::string SignedUpdateText(const AppUpdate& update) {
    return "quorvantis-update-2\nversion=" + ToUtf8(update.version) + "\nurl=" + ToUtf8(update.url) +
           "\nsha256=" + ToUtf8(NormaliseSha256(update.sha256)) + "\nsize=" + std::to_string(update.size) +
           "\nnotes=" + ToUtf8(update.notes) + "\n";
}
