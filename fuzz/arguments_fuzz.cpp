// The zeltablet program's command line on arbitrary words: the option grammar, and each word
// through the number, model and colour syntaxes. Words are the input split at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1, "zeltablet");
    words.emplace_back();
    for (size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    zeltool::Arguments arguments;
    std::string error;
    const bool parsed = zeltool::parseArguments(int(argv.size()), argv.data(), arguments, error);
    // Every refusal says why.
    if (!parsed && error.empty()) __builtin_trap();
    for (const std::string& word : words) {
        const auto number = zeltool::parseUnsigned(word, 0xFFFF);
        if (number && *number > 0xFFFF) __builtin_trap();
        const auto model = zeltool::parseModel(word);
        if (model && (*model < 0xA1 || *model > 0xA4)) __builtin_trap();
        const auto seconds = zeltool::parseNonNegative(word, 3600);
        if (seconds && !(*seconds >= 0 && *seconds <= 3600)) __builtin_trap();
        const auto colour = zeltool::parseColour(word);
        // A colour given as the pad's 16-bit value comes back as exactly that value.
        if (colour && word.size() > 2 && word[1] == 'x' &&
            zeltool::toRgb565(*colour) != zeltool::parseUnsigned(word, 0xFFFF))
            __builtin_trap();
    }
    return 0;
}
