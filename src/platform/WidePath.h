// File names arrive as wide strings (the host's interface is wide on Windows). They are
// turned into file-system paths through UTF-8, so that every file can be named: the C
// library's own conversion follows the C locale and cannot name files outside ASCII.
#pragma once

#include <filesystem>

namespace zel::platform {

// The path a wide file name denotes: UTF-16 where wchar_t has 16 bits, UTF-32 where it has
// 32. False for null, empty or invalid Unicode, or a name this system cannot hold.
bool pathFromWide(const wchar_t* name, std::filesystem::path& path);

}  // namespace zel::platform
