// zeltablet-bridge: serves signature pads to web pages on this computer.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "Beast.h"
#include "BridgeOptions.h"
#include "Hub.h"
#include "Log.h"
#include "PadService.h"
#include "Server.h"
#include "WebFiles.h"

#ifndef ZEL_BRIDGE_SOURCE_WEB
#define ZEL_BRIDGE_SOURCE_WEB ""
#endif

using namespace zelbridge;

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const std::optional<BridgeOptions> options = parseCommandLine(arguments, error);
    if (!options) {
        std::fprintf(stderr, "zeltablet-bridge: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    setVerboseLog(options->verbose);

    ConfigSettings config;
    std::vector<std::string> files;
    if (options->configFile)
        files = {*options->configFile};
    else if (!options->noConfig)
        files = defaultConfigFiles();
    for (const std::string& file : files)
        if (!loadConfigFile(file, options->configFile.has_value(), config, error)) {
            std::fprintf(stderr, "zeltablet-bridge: %s\n", error.c_str());
            return 1;
        }
    std::vector<std::string> extraOrigins = config.allowOrigins;
    extraOrigins.insert(extraOrigins.end(), options->allowOrigins.begin(),
                        options->allowOrigins.end());
    const uint16_t port = options->port ? *options->port : config.port.value_or(defaultPort);

    ServerSettings settings;
    settings.webFolder = options->webDirectory.empty()
                             ? findWebFolder(argv[0], ZEL_BRIDGE_SOURCE_WEB)
                             : options->webDirectory;

    asio::io_context io(1);
    PadService pad(options->simulate, options->simulatedModel);
    Hub hub(io, pad);
    Server server(io, hub, settings);
    // Signals are caught from before the start-up lines: a stop asked for as soon as the
    // address is printed still ends cleanly.
    asio::signal_set stopSignals(io, SIGINT, SIGTERM);
    stopSignals.async_wait([&](beast::error_code, int signal) {
        logLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
        server.stop();
        io.stop();
    });
    if (!server.listen(port, error)) {
        std::fprintf(stderr, "zeltablet-bridge: %s\n", error.c_str());
        return 1;
    }
    const std::vector<std::string> origins = allowedOrigins(server.port(), extraOrigins);
    server.setOrigins(origins);

    const std::string p = std::to_string(server.port());
    logLine("listening on http://127.0.0.1:" + p + "/" +
            (server.endpoints().size() > 1 ? " and http://[::1]:" + p + "/" : std::string()));
    std::string accepted;
    for (const std::string& origin : origins)
        accepted += (accepted.empty() ? "" : " ") + origin;
    logLine("accepting pages from " + accepted);
    logLine(settings.webFolder.empty() ? std::string("no web folder found: the page is not served")
                                       : "serving the page from " + settings.webFolder);
    if (options->simulate) logLine("serving a virtual pad");
    std::printf("Open http://127.0.0.1:%s/ in a browser.\n", p.c_str());
    std::fflush(stdout);

    io.run();
    return 0;
}
