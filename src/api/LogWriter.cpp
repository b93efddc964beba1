#include "api/LogWriter.h"

#include <cstring>
#include <mutex>
#include <string>

#include "platform/LogFile.h"

namespace zel {
namespace {

struct LogSettings {
    std::mutex lock;
    bool fileWritten = true;
    std::string path = logFileName;
    LogCallback callback = nullptr;
    void* context = nullptr;
};

LogSettings& settings() {
    static LogSettings instance;
    return instance;
}

}  // namespace

// The file is opened for every message and closed at once, so nothing stays open between
// calls and other programs may read or replace it at any time. The settings are copied out
// first, so that neither the file nor the callback runs under the lock.
void writeLog(const char* message) {
    if (message == nullptr) return;
    LogSettings& log = settings();
    std::string path;
    LogCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(log.lock);
        try {
            if (log.fileWritten) path = log.path;
        } catch (...) {
            // No memory for the name: the file misses this message, the callback still has it.
        }
        callback = log.callback;
        context = log.context;
    }
    if (!path.empty()) platform::replaceLogFile(path.c_str(), message);
    if (callback != nullptr) callback(message, context);
}

bool setLogFile(const char* path) {
    const char* chosen = path == nullptr ? logFileName : path;
    const size_t length = std::strlen(chosen);
    if (length > maxLogPathLength) return false;
    LogSettings& log = settings();
    try {
        std::string copy(chosen, length);
        std::lock_guard<std::mutex> lock(log.lock);
        log.fileWritten = !copy.empty();
        log.path.swap(copy);
    } catch (...) {
        return false;
    }
    return true;
}

void setLogCallback(LogCallback callback, void* context) {
    LogSettings& log = settings();
    std::lock_guard<std::mutex> lock(log.lock);
    log.callback = callback;
    log.context = context;
}

}  // namespace zel
