#include "driver/driver_text.h"

#include <cctype>
#include <cwctype>

#include "foundation/json_reader.h"
#include "foundation/text.h"
#include "driver/driver_offer.h"

namespace {

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
           c == '~';
}

std::wstring Widen(std::string_view text) { return FromUtf8(std::string(text)); }

}  // namespace

std::string PercentEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (Unreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::wstring NvidiaLookupPath(const std::wstring& deviceKey, const std::wstring& osBuild, bool laptop) {
    const std::string question = "{\"dIDa\":[\"" + ToUtf8(deviceKey) + "\"],\"osC\":\"10.0\",\"osB\":\"" + ToUtf8(osBuild) +
                                 "\",\"is6\":\"1\",\"lg\":\"1033\",\"iLp\":\"" + (laptop ? "1" : "0") +
                                 "\",\"prvMd\":\"0\",\"dch\":\"1\",\"upCRD\":\"0\",\"isCRD\":\"0\"}";
    return L"/nvidia_web_services/controller.gfeclientcontent.NG.php/"
           L"com.nvidia.services.GFEClientContent_NG.getDispDrvrByDevid/" +
           Widen(PercentEncode(question));
}

std::wstring OsBuildText(const std::wstring& currentBuildNumber) {
    std::wstring digits;
    for (const wchar_t c : currentBuildNumber) {
        if (c >= L'0' && c <= L'9') digits += c;
    }
    return digits.empty() ? L"22621" : digits;
}

namespace {

const JsonValue* WithDriverAttributes(const JsonValue& value, int depth = 0) {
    if (depth > kJsonMaxDepth) return nullptr;
    if (value.Member("DriverAttributes") != nullptr) return &value;
    for (const auto& member : value.members) {
        if (const JsonValue* found = WithDriverAttributes(member.value, depth + 1)) return found;
    }
    for (const JsonValue& item : value.items) {
        if (const JsonValue* found = WithDriverAttributes(item, depth + 1)) return found;
    }
    return nullptr;
}

}  // namespace

NvidiaAnswer ParseNvidiaAnswer(std::string_view body) {
    NvidiaAnswer answer;
    const std::optional<JsonValue> document = ParseJson(body);
    const JsonValue* driver = document ? WithDriverAttributes(*document) : nullptr;
    if (driver == nullptr) return answer;
    answer.found = true;
    answer.version = driver->StringMember("Version").value_or(L"");
    answer.name = driver->StringMember("Name").value_or(L"");
    const std::wstring admin = driver->StringMember("DownloadURLAdmin").value_or(L"");
    answer.url = !admin.empty() ? admin : driver->StringMember("DownloadURL").value_or(L"");
    return answer;
}

std::string ScriptValue(std::string_view script, std::string_view name) {
    const size_t at = script.find(name);
    if (at == std::string_view::npos) return {};
    const size_t open = script.find_first_of("'\"", at + name.size());
    if (open == std::string_view::npos) return {};
    const size_t close = script.find(script[open], open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(script.substr(open + 1, close - open - 1));
}

std::wstring AmdVersionFromUrl(const std::wstring& url) {
    const size_t edition = url.find(L"edition-");
    if (edition == std::wstring::npos) return {};
    const size_t start = edition + 8;
    const size_t end = url.find(L'-', start);
    if (end == std::wstring::npos || end == start) return {};
    return url.substr(start, end - start);
}

std::wstring PackageFileName(const std::wstring& url) {
    std::wstring name = url.substr(0, url.find(L'?'));
    const size_t slash = name.rfind(L'/');
    if (slash != std::wstring::npos) name = name.substr(slash + 1);
    if (name.empty() || name.size() > 160 || name.find(L"..") != std::wstring::npos) return L"driver.exe";
    for (wchar_t& c : name) {
        if (c == L'"' || c == L'*' || c == L':' || c == L'<' || c == L'>' || c == L'?' || c == L'\\' || c == L'|') c = L'_';
    }
    return name;
}

bool InfDirectorySkipped(const std::wstring& name) {
    for (const wchar_t* word : {L"Audio", L"HDMI", L"ACP", L"SAM", L"Wireless", L"AMDLink", L"WVR"}) {
        if (name.find(word) != std::wstring::npos) return true;
    }
    return false;
}

bool InfNamesAmdDisplayDriver(std::string_view bytes) {
    // As 8-bit text, and as UTF-16 (a character and a zero byte, at either alignment), in any case.
    for (const size_t stride : {size_t{1}, size_t{2}}) {
        for (size_t offset = 0; offset < stride; ++offset) {
            std::string folded;
            folded.reserve(bytes.size() / stride + 1);
            for (size_t i = offset; i < bytes.size(); i += stride) {
                const bool wide = stride == 1 || (i + 1 < bytes.size() && bytes[i + 1] == 0);
                folded += wide ? static_cast<char>(std::tolower(static_cast<unsigned char>(bytes[i]))) : '\0';
            }
            if (folded.find("amdkmdag") != std::string::npos) return true;
        }
    }
    return false;
}

std::vector<std::wstring> InfCandidates(const std::vector<std::wstring>& infPaths) {
    std::vector<std::wstring> display;
    for (const std::wstring& path : infPaths) {
        if (ContainsNoCase(path, L"\\display\\")) display.push_back(path);
    }
    return display.empty() ? infPaths : display;
}

std::wstring CodeText(uint32_t code) {
    return code < 256 ? FormatText(L"%lu", static_cast<unsigned long>(code))
                      : FormatText(L"0x%08X", static_cast<unsigned>(code));
}

bool DriverSetupSucceeded(uint32_t code) { return code == 0 || code == 1 || code == 3010; }

bool PackageFitsDisk(uint64_t size, bool freeKnown, uint64_t freeBytes, std::wstring& error) {
    error.clear();
    if (size != 0 && (size < 0x2000000ull || size > 0xFC000000ull)) {
        error = L"The published package is not a full display driver.";
        return false;
    }
    if (!freeKnown) {
        error = L"Could not read free space on this drive.";
        return false;
    }
    const uint64_t need = size == 0 ? 0x100000000ull : 2 * size + 0x40000000ull;
    if (freeBytes < need) {
        error = FormatText(L"Need about %ls free. This drive has %ls.", FormatSize(need).c_str(), FormatSize(freeBytes).c_str());
        return false;
    }
    return true;
}

std::wstring OfferNotes(uint64_t size, bool laptop, const std::wstring& otherAdapter) {
    std::wstring notes = size != 0 ? L"About " + FormatSize(size) + L"." : L"The vendor did not list the package size.";
    if (laptop) notes += L" This PC reports a battery. Laptops sometimes need the OEM package instead.";
    if (!otherAdapter.empty()) notes += L" " + otherAdapter + L" stays on its current driver.";
    return notes;
}

bool SameDigest(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}
