#include "LibraryOutput.h"

#include <mutex>

#include "zeltablet/ZELTabletCore.h"

namespace zeltool {
namespace {

// Messages come from the thread whose call logs them: the main thread, or the one that
// uploads a picture.
struct LatestMessage {
    std::mutex lock;
    uint64_t count = 0;
    std::string text;
};

LatestMessage& latest() {
    static LatestMessage instance;
    return instance;
}

void keepMessage(const char* text, void* context) {
    auto* kept = static_cast<LatestMessage*>(context);
    std::lock_guard<std::mutex> lock(kept->lock);
    ++kept->count;
    try {
        kept->text = text;
    } catch (...) {
        kept->text.clear();
    }
}

}  // namespace

void routeLibraryOutput(bool pngDiagnostics) {
    SetLogFile("");
    SetLogCallback(&keepMessage, &latest());
    SetPngDiagnostics(pngDiagnostics ? ZEL_PNG_DIAGNOSTICS_STDOUT : ZEL_PNG_DIAGNOSTICS_OFF,
                      nullptr, nullptr);
}

uint64_t libraryLogMark() {
    std::lock_guard<std::mutex> lock(latest().lock);
    return latest().count;
}

std::string libraryMessageSince(uint64_t mark) {
    LatestMessage& kept = latest();
    std::lock_guard<std::mutex> lock(kept.lock);
    if (kept.count <= mark) return {};
    std::string message = kept.text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message.size() > 1000 ? message.substr(0, 1000) : message;
}

}  // namespace zeltool
