#include "Log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace zelbridge {
namespace {

std::atomic<bool> verbose{false};
std::mutex lineLock;

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
             1000);
    const std::tm utc = *std::gmtime(&seconds);  // called under lineLock only
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

}  // namespace

void setVerboseLog(bool on) {
    verbose = on;
}
bool verboseLog() {
    return verbose;
}

void logLine(const std::string& text) {
    std::lock_guard<std::mutex> hold(lineLock);
    const std::string line = timestamp() + " bridge: " + text + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void logDetail(const std::string& text) {
    if (verbose) logLine(text);
}

}  // namespace zelbridge
