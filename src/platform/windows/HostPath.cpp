// Host file names on Windows: valid UTF-8 is read as UTF-8, anything else byte by byte (see
// wideFromHostName), into the UTF-16 path the file system takes.
#include "platform/WidePath.h"

namespace zel::platform {

bool pathFromHostName(const char* name, std::filesystem::path& path) {
    if (name == nullptr || *name == '\0') return false;
    path = std::filesystem::path(wideFromHostName(name));
    return true;
}

}  // namespace zel::platform
