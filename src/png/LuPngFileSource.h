// A PNG file opened by its path (or wide-character name), read through a buffered stream in the
// sizes the chunk reader asks for. The file stays open for the object's lifetime.
#pragma once

#include <filesystem>
#include <fstream>

#include "png/LuPngSource.h"

namespace zel {

class LuPngFileSource : public LuPngSource {
  public:
    // Opens `path` for binary reading; IsOpen() tells whether that worked. A path that cannot
    // be expressed as a file name of this system counts as a file that cannot be opened.
    explicit LuPngFileSource(const wchar_t* path);
    explicit LuPngFileSource(const std::filesystem::path& path);

    bool IsOpen() const { return open_; }
    uint64_t Size() const override { return size_; }
    size_t Read(void* buffer, size_t count) override;

  private:
    void open(const std::filesystem::path& path);

    std::filebuf file_;
    bool open_ = false;
    uint64_t size_ = 0;
};

}  // namespace zel
