#include "png/LuPngFileSource.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "platform/WidePath.h"

namespace zel {

LuPngFileSource::LuPngFileSource(const wchar_t* path) {
    std::filesystem::path name;
    if (platform::pathFromWide(path, name)) open(name);
}

LuPngFileSource::LuPngFileSource(const std::filesystem::path& path) {
    if (!path.empty()) open(path);
}

void LuPngFileSource::open(const std::filesystem::path& name) {
    // A directory opens as a stream on some systems; it is not a picture.
    std::error_code error;
    if (std::filesystem::is_directory(name, error)) return;
    if (file_.open(name, std::ios::in | std::ios::binary) == nullptr) return;
    const auto end = file_.pubseekoff(0, std::ios::end, std::ios::in);
    const auto start = file_.pubseekoff(0, std::ios::beg, std::ios::in);
    if (end == std::streampos(-1) || start != std::streampos(0)) {
        file_.close();
        return;
    }
    size_ = static_cast<uint64_t>(static_cast<std::streamoff>(end));
    open_ = true;
}

size_t LuPngFileSource::Read(void* buffer, size_t count) {
    if (!open_ || count == 0) return 0;
    const std::streamsize got =
        file_.sgetn(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

}  // namespace zel
