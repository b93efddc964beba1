// The bridge's log: one line an event on standard error, with a UTC time stamp.
#pragma once

#include <string>

namespace zelbridge {

void setVerboseLog(bool verbose);
bool verboseLog();
// Thread-safe: lines from several threads never interleave.
void logLine(const std::string& text);
// Only with --verbose.
void logDetail(const std::string& text);

}  // namespace zelbridge
