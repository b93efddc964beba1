// What the library says besides its results, routed for a command-line program. Its log
// messages are kept in memory (no ZELTablet.log is left in the user's working directory) so
// that a refusal can be explained with the library's own words; its PNG decoder's diagnostic
// lines are silenced unless the user asks for them.
#pragma once

#include <cstdint>
#include <string>

namespace zeltool {

// Sets both routes up, for the rest of the process.
void routeLibraryOutput(bool pngDiagnostics);

// A mark in the sequence of log messages, and the latest message logged after a mark (empty
// when none was).
uint64_t libraryLogMark();
std::string libraryMessageSince(uint64_t mark);

}  // namespace zeltool
