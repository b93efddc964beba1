// Host file names on Linux: the bytes the host passes are the path, unchanged. File names are
// byte strings here; whatever encoding the host used is the one the file system holds.
#include <string>

#include "platform/WidePath.h"

namespace zel::platform {

bool pathFromHostName(const char* name, std::filesystem::path& path) {
    if (name == nullptr || *name == '\0') return false;
    path = std::filesystem::path(std::string(name));
    return true;
}

}  // namespace zel::platform
