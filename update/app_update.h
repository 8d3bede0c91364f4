#pragma once
// What the publisher's update list offers: a newer build of the program.
#include <cstdint>
#include <string>

struct AppUpdate {
    std::wstring version;  // "2.7.0"
    std::wstring url;      // HTTPS address of the executable
    std::wstring sha256;   // 64 hexadecimal digits
    uint64_t size = 0;     // bytes
    std::wstring notes;
};
