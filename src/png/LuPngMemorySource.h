// PNG bytes already in memory, read in order. The bytes are not copied; they must outlive the
// source.
#pragma once

#include "png/LuPngSource.h"

namespace zel {

class LuPngMemorySource : public LuPngSource {
  public:
    LuPngMemorySource(const unsigned char* data, size_t size) : data_(data), size_(size) {}

    uint64_t Size() const override { return size_; }
    size_t Read(void* buffer, size_t count) override;

  private:
    const unsigned char* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace zel
