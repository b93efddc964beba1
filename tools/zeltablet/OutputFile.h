// Replacing an output file without ever losing what stood there before. The new content is
// written to a temporary file beside the target and renamed over it only once it is complete,
// so a failed write leaves the old file as it was. A target that is not a regular file (a
// device such as /dev/stdout, a pipe, a symlink to one) is written through, never removed or
// replaced. The program removes only the temporary files it created itself.
#pragma once

#include <functional>
#include <string>

namespace zeltool {

// Writes the file at `path` (a fresh, empty file the program created); false, with the reason
// in `error`, when it could not.
using FileWriter = std::function<bool(const std::string& path, std::string& error)>;

// Puts what `write` produces at `target`. False, with "TARGET: reason" in `error`, when
// anything failed; the target is then unchanged (a device may have received part of it).
bool replaceFile(const std::string& target, const FileWriter& write, std::string& error);

// Whether files can be created in the folder that holds `base`'s files, creating the folder
// (and those above it) if needed. False, with the reason, when they cannot.
bool prepareOutputFolder(const std::string& base, std::string& error);

}  // namespace zeltool
