#pragma once
// What the health checks read from the output of Windows tools. Pure, so any output a tool might
// print (other languages, other file systems, noise) can be tried without the tool.
#include <string_view>

enum class ToolAnswer { Yes, No, Unknown };

// `fsutil behavior query DisableDeleteNotify`: Yes when TRIM is on for NTFS (DisableDeleteNotify = 0).
// Newer Windows prints an NTFS and a ReFS line; NTFS is where the system drive lives, so its line
// decides, and a lone value line (older Windows) decides when there is no NTFS line.
ToolAnswer TrimEnabledFromFsutil(std::wstring_view output);
// `(Get-MMAgent).MemoryCompression`: Yes for "True", No for "False".
ToolAnswer MemoryCompressionFromPowerShell(std::wstring_view output);
