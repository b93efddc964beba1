// zeltablet-bridge: serves signature pads to web pages on this computer.
#include <cstdio>
#include <string>
#include <vector>

#include "BridgeOptions.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const std::optional<zelbridge::BridgeOptions> options =
        zelbridge::parseCommandLine(arguments, error);
    if (!options) {
        std::fprintf(stderr, "zeltablet-bridge: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(zelbridge::usageText(), stdout);
        return 0;
    }
    std::fputs("zeltablet-bridge: not serving yet\n", stderr);
    return 1;
}
