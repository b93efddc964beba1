// Checks on a picture file the program can make itself, so that a refusal names its real
// cause: a file that is not there, or a valid picture of a kind the library does not read
// (which the library reports only as a load error).
#pragma once

#include <string>

namespace zeltool {

// True when `path` names a regular file the program can open; otherwise false, with the
// reason ("no such file", "a folder, not a file", ...).
bool readablePicture(const std::string& path, std::string& reason);

// What the library cannot read in this picture, judged from its header: a PNG whose colour
// type and bit depth the library's PNG decoder does not take, or a JPEG with other than one
// or three colour channels of 8 bits (CMYK, 12-bit). Empty when the header shows nothing of
// the kind (the file may still be damaged).
std::string unsupportedPicture(const std::string& path);

}  // namespace zeltool
