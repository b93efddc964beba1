// The test name for a picture file: its file name, with anything but letters and digits as '_'.
#pragma once

#include <cctype>
#include <string>

namespace zel {

inline std::string pictureTestName(std::string path) {
    std::string name = path.substr(path.rfind('/') + 1);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace zel
