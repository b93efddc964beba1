#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zeltool {
namespace {

namespace fs = std::filesystem;

std::string reason(int code) {
    return std::strerror(code);
}

// A temporary file in `folder` named after `name`, created empty; its path, or "" with errno.
std::string createTemporary(const fs::path& folder, const std::string& name) {
    std::string path = (folder / ("." + name + ".XXXXXX")).string();
    const int fd = mkstemp(path.data());
    if (fd < 0) return {};
    close(fd);
    return path;
}

// Copies a finished temporary file into a target that is not a regular file.
bool copyInto(const std::string& from, const std::string& target, std::string& error) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool copied = in >= 0 && out >= 0;
    int code = errno;
    char buffer[65536];
    while (copied) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            copied = false, code = errno;
            break;
        }
        for (ssize_t done = 0; copied && done < got;) {
            const ssize_t put = write(out, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) copied = false, code = put < 0 ? errno : EIO;
            done += put > 0 ? put : 0;
        }
    }
    if (in >= 0) close(in);
    if (out >= 0 && close(out) != 0 && copied) copied = false, code = errno;
    if (!copied) error = target + ": " + reason(code);
    return copied;
}

}  // namespace

bool replaceFile(const std::string& target, const FileWriter& write, std::string& error) {
    if (target.empty()) {
        error = "no output file named";
        return false;
    }
    struct stat link;
    struct stat followed;
    const bool exists = lstat(target.c_str(), &link) == 0;
    const bool resolves = exists && stat(target.c_str(), &followed) == 0;
    if (resolves && S_ISDIR(followed.st_mode)) {
        error = target + ": is a folder";
        return false;
    }
    // A regular file (through any symlinks) or nothing yet: replaced by rename, the symlinks
    // kept. Anything else is written through.
    const bool renamed = !exists || (resolves && S_ISREG(followed.st_mode));
    std::error_code fsError;
    const fs::path destination = exists && S_ISLNK(link.st_mode) && renamed
                                     ? fs::canonical(target, fsError)
                                     : fs::path(target);
    if (fsError) {
        error = target + ": " + fsError.message();
        return false;
    }
    const fs::path folder = renamed ? destination.parent_path() : fs::temp_directory_path(fsError);
    const std::string temporary = createTemporary(
        folder.empty() ? fs::path(".") : folder,
        destination.filename().empty() ? "output" : destination.filename().string());
    if (temporary.empty()) {
        error = target + ": cannot create a file beside it (" + reason(errno) + ")";
        return false;
    }
    // The new file gets the old one's permissions, or those a new file would get.
    mode_t mode = 0;
    if (resolves && S_ISREG(followed.st_mode)) {
        mode = followed.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (renamed) chmod(temporary.c_str(), mode);

    std::string writeError;
    bool done = write(temporary, writeError);
    if (!done) error = target + ": " + (writeError.empty() ? "cannot write the file" : writeError);
    if (done && renamed && std::rename(temporary.c_str(), destination.c_str()) != 0) {
        error = target + ": " + reason(errno);
        done = false;
    }
    if (done && !renamed) done = copyInto(temporary, target, error);
    if (!done || !renamed) unlink(temporary.c_str());
    return done;
}

bool prepareOutputFolder(const std::string& base, std::string& error) {
    const fs::path folder = fs::path(base).parent_path();
    std::error_code fsError;
    if (!folder.empty() && !fs::is_directory(folder, fsError)) {
        fs::create_directories(folder, fsError);
        if (fsError) {
            error = "--output " + base + ": cannot create the folder " + folder.string() + " (" +
                    fsError.message() + ")";
            return false;
        }
    }
    const std::string probe = createTemporary(folder.empty() ? fs::path(".") : folder,
                                              fs::path(base).filename().string());
    if (probe.empty()) {
        error = "--output " + base + ": cannot write files in " +
                (folder.empty() ? std::string("the current folder") : folder.string()) + " (" +
                reason(errno) + ")";
        return false;
    }
    unlink(probe.c_str());
    return true;
}

}  // namespace zeltool
