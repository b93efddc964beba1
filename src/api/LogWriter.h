// The library's log: by default one file, "ZELTablet.log" in the current directory, holding
// only the latest message. A host may name another file, write none, and receive each
// message through a callback as well.
#pragma once

#include <cstddef>

namespace zel {

constexpr const char* logFileName = "ZELTablet.log";
constexpr size_t maxLogPathLength = 4095;

using LogCallback = void (*)(const char* message, void* context);

// Replaces the log's content with `message` (NUL-terminated), each "\n" stored as CR LF so
// the file reads the same on every platform, then hands the message, unchanged, to the host's
// callback if one is set. A message that cannot be written is lost without a word: logging
// must never make an operation fail.
void writeLog(const char* message);

// The file each message replaces: nullptr for the default, "" for none. False, with nothing
// changed, for a path longer than maxLogPathLength or when there is no memory for it.
bool setLogFile(const char* path);

// The callback that receives each message too (nullptr: none). The callback and its context
// are replaced as one; a call already running finishes with the old pair.
void setLogCallback(LogCallback callback, void* context);

}  // namespace zel
