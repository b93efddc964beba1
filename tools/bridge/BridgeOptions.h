// What the bridge is told to do: the command line and the configuration files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelbridge {

constexpr uint16_t defaultPort = 8765;

struct BridgeOptions {
    std::optional<uint16_t> port;           // from the command line, else the files
    std::vector<std::string> allowOrigins;  // normalised; the bridge's own page comes on top
    std::optional<std::string> configFile;  // --config: this file alone
    bool noConfig = false;                  // --no-config: no file at all
    std::string webDirectory;               // --web, else found at start-up
    bool simulate = false;
    uint32_t simulatedModel = 0xA3;
    bool verbose = false;
    bool help = false;
};

// Settings read from one configuration file.
struct ConfigSettings {
    std::optional<uint16_t> port;
    std::vector<std::string> allowOrigins;
};

// The command line's options (argv without the program name). On a mistake, nothing and the
// reason in `error`.
std::optional<BridgeOptions> parseCommandLine(const std::vector<std::string>& arguments,
                                              std::string& error);

// One configuration file's text: "port N" and "allow-origin ORIGIN" lines, '#' comments.
// `name` is used in the reason given in `error` ("NAME:LINE: ...").
constexpr size_t maxConfigBytes = 64 * 1024;
constexpr size_t maxConfigLineBytes = 1024;
std::optional<ConfigSettings> parseConfig(const std::string& text, const std::string& name,
                                          std::string& error);

// Reads one configuration file into `into` (origins added, a port replacing). A missing file
// is an error only when `mustExist`.
bool loadConfigFile(const std::string& path, bool mustExist, ConfigSettings& into,
                    std::string& error);

// The configuration files read when --config is not given: the system's, then the user's.
std::vector<std::string> defaultConfigFiles();

// The accepted origins for `port`: the bridge's own page's three names, then `extra`
// (duplicates dropped).
std::vector<std::string> allowedOrigins(uint16_t port, const std::vector<std::string>& extra);

const char* usageText();

}  // namespace zelbridge
