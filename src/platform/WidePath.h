// File names: the narrow names hosts pass to the exports, and the wide names of the library's
// own interfaces, turned into file-system paths. Wide names go through UTF-8, so that every
// file can be named: the C library's own conversion follows the C locale and cannot name files
// outside ASCII.
#pragma once

#include <filesystem>
#include <string>

namespace zel::platform {

// The path a wide file name denotes: UTF-16 where wchar_t has 16 bits, UTF-32 where it has
// 32. False for null, empty or invalid Unicode, or a name this system cannot hold.
bool pathFromWide(const wchar_t* name, std::filesystem::path& path);

// The path a host's narrow file name denotes (src/platform/<os>/HostPath.cpp). On POSIX
// systems the name's bytes are the path, unchanged, whatever their encoding. On Windows, whose
// file names are UTF-16, the name is read by wideFromHostName. False for null or empty.
bool pathFromHostName(const char* name, std::filesystem::path& path);

// A host's narrow name as wide text, the way Windows reads it: a name that is valid UTF-8 is
// taken as UTF-8, so that any file can be named; any other name is taken byte by byte, each
// byte the character of the same value (U+0000 to U+00FF), as hosts written for single-byte
// Latin-1 names pass them. Plain ASCII reads the same both ways. Empty for null.
std::wstring wideFromHostName(const char* name);

}  // namespace zel::platform
