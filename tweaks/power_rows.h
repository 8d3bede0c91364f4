#pragma once
// The power-plan settings the tweak steps write, as constant tables read by one loop.
#include <guiddef.h>

#include <cstdint>
#include <span>

struct PowerSettingRow {
    const wchar_t* alias;  // also the key of the backup value names
    const wchar_t* title;
    const wchar_t* unit;   // "%", "ms", "s" or empty
    const wchar_t* description;
    uint32_t value;        // for AC and DC alike
    uint32_t dwell;        // ms the row is shown before it is written
    GUID setting;
    GUID subgroup;
};

// The 36 characters "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (hex digits already checked) to a GUID.
template <typename Char>
constexpr GUID GuidFromHexText(const Char* text) {
    auto hex = [&](int from, int digits) {
        unsigned long long v = 0;
        for (int i = from; i < from + digits; ++i) {
            const auto c = static_cast<unsigned>(text[i]);
            v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return v;
    };
    GUID g{};
    g.Data1 = static_cast<unsigned long>(hex(0, 8));
    g.Data2 = static_cast<unsigned short>(hex(9, 4));
    g.Data3 = static_cast<unsigned short>(hex(14, 4));
    g.Data4[0] = static_cast<unsigned char>(hex(19, 2));
    g.Data4[1] = static_cast<unsigned char>(hex(21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<unsigned char>(hex(24 + 2 * i, 2));
    return g;
}

// A GUID literal at compile time.
constexpr GUID ParseGuid(const char (&text)[37]) { return GuidFromHexText(text); }

// The 22 processor power management rows of CPU Tune, in order.
std::span<const PowerSettingRow> CpuTuneRows();
// The three storage power rows (PCIe link state, disk idle, USB selective suspend).
std::span<const PowerSettingRow> StoragePowerRows();
