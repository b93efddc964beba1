// Which device path a COM port number opens. Unless the host maps a port to a path of its
// choice (a USB serial adapter, a pseudo-terminal), the operating system's own name is used.
//
// Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace zel {

class ComPortMap {
  public:
    // Limits on what a host may store: paths no longer than the system's path limit, and a
    // bounded number of mapped ports.
    static constexpr size_t maxPathLength = 4095;
    static constexpr size_t maxMappedPorts = 256;

    // Maps `port` (1 or above) to `path`; a null or empty path restores the default name.
    // False for port 0 (which means HID), an over-long path or a full table.
    bool map(uint32_t port, const char* path);

    // The path `port` opens.
    std::string path(uint32_t port) const;

  private:
    mutable std::mutex mutex_;
    std::map<uint32_t, std::string> mapped_;
};

}  // namespace zel
