#include "png/PngDiagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace zel::png {
namespace {

struct Receiver {
    DiagnosticCallback callback = nullptr;
    void* context = nullptr;
};

// The mode is read on every line without a lock, so that lines nobody wants cost nothing; the
// callback and its context are only read together, under the lock.
std::atomic<DiagnosticOutput> currentOutput{DiagnosticOutput::standardOutput};
std::mutex receiverLock;
Receiver receiver;

bool currentReceiver(Receiver& out) {
    std::lock_guard<std::mutex> lock(receiverLock);
    out = receiver;
    return out.callback != nullptr;
}

}  // namespace

void setDiagnosticOutput(DiagnosticOutput output, DiagnosticCallback callback, void* context) {
    std::lock_guard<std::mutex> lock(receiverLock);
    receiver = output == DiagnosticOutput::callback ? Receiver{callback, context} : Receiver{};
    currentOutput.store(output);
}

void diagnostic(const char* format, ...) {
    const DiagnosticOutput output = currentOutput.load(std::memory_order_relaxed);
    if (output == DiagnosticOutput::none) return;
    va_list arguments;
    va_start(arguments, format);
    if (output == DiagnosticOutput::standardOutput) {
        std::vprintf(format, arguments);
        va_end(arguments);
        return;
    }
    // The decoder's lines are short; a longer one is formatted again at its full length.
    char line[256];
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(length) < sizeof line) {
        va_end(again);
        diagnosticText(line);
        return;
    }
    try {
        std::vector<char> longer(static_cast<size_t>(length) + 1);
        std::vsnprintf(longer.data(), longer.size(), format, again);
        va_end(again);
        diagnosticText(longer.data());
    } catch (...) {
        va_end(again);  // no memory: the line is lost, the decoding goes on
    }
}

void diagnosticText(const char* text) {
    switch (currentOutput.load(std::memory_order_relaxed)) {
        case DiagnosticOutput::none:
            return;
        case DiagnosticOutput::standardOutput:
            std::fputs(text, stdout);
            return;
        case DiagnosticOutput::callback: {
            Receiver to;
            if (currentReceiver(to)) to.callback(text, to.context);
            return;
        }
    }
}

}  // namespace zel::png
