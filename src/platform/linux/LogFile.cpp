// The log file on POSIX systems, which have no text mode: the CR LF line ends are written out
// explicitly, in binary mode.
#include "platform/LogFile.h"

#include <cstdio>
#include <memory>
#include <string>

namespace zel::platform {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void replaceLogFile(const char* name, const char* message) {
    std::string text;
    try {
        for (const char* c = message; *c != '\0'; ++c) {
            if (*c == '\n') text.push_back('\r');
            text.push_back(*c);
        }
    } catch (...) {
        return;  // no memory for the message: lost like any other failed write
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name, "wb"));
    if (!file) return;
    std::fwrite(text.data(), 1, text.size(), file.get());
}

}  // namespace zel::platform
