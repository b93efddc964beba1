// The library's log: one file, "ZELTablet.log" in the current directory, holding only the
// latest message.
#pragma once

namespace zel {

constexpr const char* logFileName = "ZELTablet.log";

// Replaces the log's content with `message` (NUL-terminated), each "\n" stored as CR LF so
// the file reads the same on every platform. A message that cannot be written is lost
// without a word: logging must never make an operation fail.
void writeLog(const char* message);

}  // namespace zel
