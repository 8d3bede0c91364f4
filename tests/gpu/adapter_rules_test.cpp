// The pure rules of adapter discovery: names, PCI ids, the offer choice and the GPU line.
#include "gpu/adapters.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AdapterText, SubstringMatchingAndPciIds) {
    EXPECT_TRUE(ContainsNoCase(L"Corporation ATIonic", L"ati"));
    EXPECT_TRUE(ContainsNoCase(L"Search Architecture", L"Arc"));
    EXPECT_TRUE(ContainsNoCase(L"Marx Display", L"RX")) << "no word boundaries";
    EXPECT_FALSE(ContainsNoCase(L"", L"a"));
    const PciIds ids = ParsePciIds(L"PCI\\VEN_10de&DEV_2786&SUBSYS_51411462&REV_A1");
    EXPECT_EQ(ids.device, L"2786");
    EXPECT_EQ(ids.vendor, L"10DE");
    EXPECT_EQ(ids.subsystem, L"5141");
    EXPECT_EQ(ids.subsystemVendor, L"1462");
    const PciIds bare = ParsePciIds(L"PCI\\VEN_10DE&DEV_27G6");
    EXPECT_EQ(bare.device, L"") << "a non-hex digit leaves the field empty";
    EXPECT_EQ(bare.subsystem, L"");
}

TEST(AdapterText, AKnownPciVendorIdDecidesBeforeAnyNameRule) {
    // "Intel Corporation" holds "ati": without an id it reads as AMD, with 8086 it is Intel only.
    EXPECT_TRUE(AdapterTextMatchesVendor(L"", L"Intel Corporation", L"Intel(R) UHD Graphics 770", GpuAmd));
    EXPECT_FALSE(AdapterTextMatchesVendor(L"8086", L"Intel Corporation", L"Intel(R) UHD Graphics 770", GpuAmd));
    EXPECT_TRUE(AdapterTextMatchesVendor(L"8086", L"Intel Corporation", L"Intel(R) UHD Graphics 770", GpuIntel));
    EXPECT_TRUE(AdapterTextMatchesVendor(L"1002", L"Advanced Micro Devices, Inc.", L"AMD Radeon RX 7900 XTX", GpuAmd));
    EXPECT_FALSE(AdapterTextMatchesVendor(L"10DE", L"NVIDIA", L"NVIDIA GeForce RTX 4070", GpuAmd));
    EXPECT_TRUE(AdapterTextMatchesVendor(L"", L"NVIDIA", L"NVIDIA GeForce RTX 4070", GpuNvidia));
    EXPECT_TRUE(AdapterTextMatchesVendor(L"1AB8", L"Parallels", L"Parallels Display Adapter (WDDM) GTX", GpuNvidia))
        << "an unknown vendor id leaves the name rules in force";
}

TEST(AdapterText, OfferChoicePrefersDiscreteNvidiaAndNamesTheOtherVendor) {
    const DisplayAdapter rtx{L"NVIDIA GeForce RTX 4070", L"", {}, GpuNvidia, true};
    const DisplayAdapter igpu{L"AMD Radeon(TM) Graphics", L"", {}, GpuAmd, false};
    const DisplayAdapter intel{L"Intel(R) UHD Graphics 770", L"", {}, GpuIntel, false};
    OfferChoice choice = ChooseOfferAdapter({igpu, rtx, intel});
    ASSERT_TRUE(choice.chosen.has_value());
    EXPECT_EQ(choice.chosen->name, rtx.name);
    EXPECT_EQ(choice.otherAdapterName, igpu.name);
    choice = ChooseOfferAdapter({intel});
    EXPECT_FALSE(choice.chosen.has_value());
    EXPECT_EQ(choice.message, L"Intel graphics stay on the current driver.");
    EXPECT_EQ(ChooseOfferAdapter({}).message, L"No NVIDIA or AMD display adapter was found.");
}

TEST(AdapterText, TheGpuLineNamesTheFirstAdapterJoinsAllAndMarksTheVendorsPresent) {
    const std::vector<AdapterEntry> entries = {{L"NVIDIA GeForce RTX 4070", L"NVIDIA", L""},
                                               {L"AMD Radeon(TM) Graphics", L"Advanced Micro Devices, Inc.", L""},
                                               {L"Parallels Display Adapter (WDDM)", L"Parallels", L"1AB8"}};
    const GpuProbeView view = SummariseGpu(entries, true, false);
    EXPECT_EQ(view.name, L"NVIDIA GeForce RTX 4070");
    EXPECT_EQ(view.summary, L"NVIDIA GeForce RTX 4070 + AMD Radeon(TM) Graphics + Parallels Display Adapter (WDDM)"
                            L"  \u00B7  HAGS on  \u00B7  NVIDIA  \u00B7  AMD");
    EXPECT_FALSE(view.hasIntel);
    const GpuProbeView none = SummariseGpu({}, false, true);
    EXPECT_EQ(none.name, L"no display adapter found");
    EXPECT_EQ(none.summary, L"no PCI display adapters enumerated  \u00B7  HAGS off");
    EXPECT_TRUE(none.tweaksApplied);
}
