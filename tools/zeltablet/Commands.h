// The commands of the zeltablet program. Each takes the parsed command line (its positional
// arguments already counted) and returns the exit status: 0 done, 1 refused or failed (the
// reason on standard error), 2 a bad value on the command line.
#pragma once

#include "Arguments.h"

namespace zeltool {

constexpr int exitDone = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;
// capture, demo and convert: what was signed is not a plausible signature (no ink, a dot, too
// short or too brief) and was not saved as one.
constexpr int exitImplausible = 3;

int runList(const Arguments& arguments);
int runInfo(const Arguments& arguments);
int runClear(const Arguments& arguments);
int runShow(const Arguments& arguments);
int runSet(const Arguments& arguments);
int runDecode(const Arguments& arguments);
int runPreview(const Arguments& arguments);
int runCapture(const Arguments& arguments);
int runDemo(const Arguments& arguments);
int runConvert(const Arguments& arguments);
int runVerify(const Arguments& arguments);
int runWatch(const Arguments& arguments);

// Prints "zeltablet: MESSAGE" on standard error and returns `status`.
int fail(int status, const std::string& message);

}  // namespace zeltool
