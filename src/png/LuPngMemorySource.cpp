#include "png/LuPngMemorySource.h"

#include <cstring>

namespace zel {

size_t LuPngMemorySource::Read(void* buffer, size_t count) {
    const size_t left = size_ - position_;
    const size_t taken = count < left ? count : left;
    if (taken != 0) std::memcpy(buffer, data_ + position_, taken);
    position_ += taken;
    return taken;
}

}  // namespace zel
