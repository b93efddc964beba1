// Conversions between the seam's UTF-8 strings (device paths, device IDs) and the wide
// strings of the Win32 interfaces.
#pragma once

#include <string>

namespace zel::platform::windows {

// Empty for text that is not valid UTF-8 (or UTF-16 for narrow()).
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

}  // namespace zel::platform::windows
