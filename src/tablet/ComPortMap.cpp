#include "tablet/ComPortMap.h"

#include <cstring>

#include "platform/SerialPortName.h"

namespace zel {

bool ComPortMap::map(uint32_t port, const char* path) {
    if (port == 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (path == nullptr || path[0] == '\0') {
        mapped_.erase(port);
        return true;
    }
    // strnlen stops at the limit, so an unterminated host buffer is never read far past it.
    const size_t length = strnlen(path, maxPathLength + 1);
    if (length > maxPathLength) return false;
    auto existing = mapped_.find(port);
    if (existing == mapped_.end() && mapped_.size() >= maxMappedPorts) return false;
    mapped_[port] = std::string(path, length);
    return true;
}

std::string ComPortMap::path(uint32_t port) const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = mapped_.find(port);
        if (found != mapped_.end()) return found->second;
    }
    return platform::serialPortPath(port);
}

}  // namespace zel
