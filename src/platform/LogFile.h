// The log file's storage: one text file replaced by each message.
#pragma once

namespace zel::platform {

// Replaces the content of the file `name` (relative to the current directory) with `message`
// (NUL-terminated), each "\n" stored as CR LF: the file is a text file in the Windows sense
// on every platform. The file is opened for this call only, shared for reading and writing
// with other programs. Failures are silent: the message is lost.
void replaceLogFile(const char* name, const char* message);

}  // namespace zel::platform
