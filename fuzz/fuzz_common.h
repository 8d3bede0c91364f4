#pragma once
// Shared by the fuzz targets: the input as 8-bit text and as wide text (UTF-8 decoded).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/text.h"

inline std::string_view AsText(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }
inline std::wstring AsWide(const uint8_t* data, size_t size) { return FromUtf8(AsText(data, size)); }
