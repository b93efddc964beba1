#include "signature/FileBytes.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/WidePath.h"

namespace zelsig {
namespace {

namespace fs = std::filesystem;

Status fileError(const char* name, const std::string& what) {
    return Status::fail(ZELSIG_ERROR_FILE, std::string(name) + ": " + what);
}

bool writeAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    return !out.fail();
}

// A name beside `target` that no other writer picks: the target's name, a dot in front (hidden
// on POSIX systems) and a random suffix.
fs::path temporaryBeside(const fs::path& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string suffix = ".tmp" + std::to_string(random());
    return target.parent_path() / fs::path("." + target.filename().string() + suffix);
}

}  // namespace

Status readHostFile(const char* name, std::vector<uint8_t>& bytes) {
    fs::path path;
    if (!zel::platform::pathFromHostName(name, path))
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "no file name given");
    std::error_code error;
    if (fs::is_directory(path, error)) return fileError(name, "is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in) return fileError(name, "cannot be opened");
    bytes.clear();
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        const size_t got = size_t(in.gcount());
        if (bytes.size() + got > maximumInputFileBytes)
            return Status::fail(ZELSIG_ERROR_FORMAT,
                                std::string(name) + ": larger than " +
                                    std::to_string(maximumInputFileBytes >> 20) + " MiB");
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    if (in.bad()) return fileError(name, "read failed");
    return Status::ok();
}

Status writeHostFile(const char* name, const std::vector<uint8_t>& bytes) {
    fs::path target;
    if (!zel::platform::pathFromHostName(name, target))
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "no file name given");
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) return fileError(name, "is a folder");
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        if (!writeAll(target, bytes)) return fileError(name, "cannot be written");
        return Status::ok();
    }
    // A symbolic link stays: the file it points to is replaced.
    fs::path destination = target;
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        destination = fs::canonical(target, error);
        if (error) return fileError(name, error.message());
    }
    const fs::path temporary = temporaryBeside(destination);
    if (!writeAll(temporary, bytes)) {
        fs::remove(temporary, error);
        return fileError(name, "cannot be written");
    }
    fs::rename(temporary, destination, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return fileError(name, error.message());
    }
    return Status::ok();
}

}  // namespace zelsig
