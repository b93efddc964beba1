// Where the PNG decoder reads a file from: the bytes in order and their total size known in
// advance. The decoder reads the file by path through LuPngFileSource; LuPngMemorySource lets
// the same chunk reader work on bytes already in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

class LuPngSource {
  public:
    virtual ~LuPngSource() = default;

    // Total number of bytes, known before the first read.
    virtual uint64_t Size() const = 0;

    // Copies up to `count` next bytes into `buffer`; returns how many were copied (fewer only
    // at the end).
    virtual size_t Read(void* buffer, size_t count) = 0;
};

}  // namespace zel
