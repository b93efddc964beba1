#include "api/LogWriter.h"

#include <cstdio>
#include <memory>
#include <string>

namespace zel {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void writeLog(const char* message) {
    if (message == nullptr) return;
    std::string text;
    try {
        for (const char* c = message; *c != '\0'; ++c) {
            if (*c == '\n') text.push_back('\r');
            text.push_back(*c);
        }
    } catch (...) {
        return;  // no memory for the message: lost like any other failed write
    }
    // Opened for every message and closed at once, so nothing stays open between calls and
    // other programs may read or replace the file at any time.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(logFileName, "wb"));
    if (!file) return;
    std::fwrite(text.data(), 1, text.size(), file.get());
}

}  // namespace zel
