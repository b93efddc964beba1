#include "api/LogWriter.h"

#include "platform/LogFile.h"

namespace zel {

// Opened for every message and closed at once, so nothing stays open between calls and
// other programs may read or replace the file at any time.
void writeLog(const char* message) {
    if (message == nullptr) return;
    platform::replaceLogFile(logFileName, message);
}

}  // namespace zel
