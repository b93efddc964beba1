// zeltablet: the command-line program over the library's exported functions.
#include <cstdio>
#include <set>
#include <string>

#include "Arguments.h"
#include "Commands.h"
#include "LibraryOutput.h"

namespace zeltool {

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "zeltablet: %s\n", message.c_str());
    if (status == exitUsage) std::fprintf(stderr, "Try 'zeltablet --help'.\n");
    return status;
}

namespace {

struct Command {
    const char* name;
    size_t minArguments;
    size_t maxArguments;
    int (*run)(const Arguments&);
    std::set<std::string> options;  // beyond the pad choice, --quiet and --help
};

const std::set<std::string> captureOptions = {
    "--output",    "--prompt",     "--timeout",     "--pause",  "--background",
    "--ink",       "--scale",      "--encrypted",   "--format", "--document",
    "--recipient", "--min-length", "--min-duration"};
const std::set<std::string> convertOptions = {"--background", "--ink", "--scale"};
const std::set<std::string> verifyOptions = {"--document", "--key", "--cert", "--png"};

const Command commands[] = {
    {"list", 0, 0, runList, {}},
    {"info", 0, 0, runInfo, {}},
    {"clear", 0, 0, runClear, {}},
    {"show", 1, 1, runShow, {}},
    {"set", 1, 5, runSet, {}},
    {"capture", 0, 0, runCapture, captureOptions},
    {"demo", 0, 0, runDemo, captureOptions},
    {"decode", 2, 2, runDecode, {}},
    {"preview", 2, 2, runPreview, {}},
    {"convert", 2, 2, runConvert, convertOptions},
    {"verify", 1, 1, runVerify, verifyOptions},
    {"watch", 0, 0, runWatch, {"--json"}},
};

const std::set<std::string> padOptions = {"--model",    "--uid",   "--com",     "--port-path",
                                          "--simulate", "--quiet", "--verbose", "--help"};

}  // namespace
}  // namespace zeltool

int main(int argc, char** argv) {
    using namespace zeltool;
    Arguments arguments;
    std::string error;
    if (!parseArguments(argc, argv, arguments, error)) {
        std::fprintf(stderr, "%s", usageText());
        return fail(exitUsage, error);
    }
    if (arguments.has("--help") || arguments.command == "help") {
        std::printf("%s", usageText());
        return exitDone;
    }
    for (const Command& command : commands) {
        if (arguments.command != command.name) continue;
        const size_t count = arguments.positional.size();
        if (count < command.minArguments || count > command.maxArguments)
            return fail(exitUsage, std::string(command.name) + ": wrong number of arguments");
        for (const auto& option : arguments.options)
            if (padOptions.count(option.first) == 0 && command.options.count(option.first) == 0)
                return fail(exitUsage,
                            std::string(command.name) + " does not take " + option.first);
        // The library's log messages are kept for the program's own messages rather than left
        // in the working directory; the PNG decoder's diagnostics show only with --verbose,
        // on standard output, line by line so that they keep their order with the program's.
        routeLibraryOutput(arguments.has("--verbose"));
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        return command.run(arguments);
    }
    return fail(exitUsage, "unknown command '" + arguments.command + "'");
}
