// The native build's stand-in for the Windows SDK header that defines GUID: the pure tables that
// name power settings by GUID only need its layout.
#pragma once
#include <cstdint>

struct GUID {
    unsigned long Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
};
