#include "BridgeOptions.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "Origin.h"

namespace zelbridge {
namespace {

std::optional<uint16_t> parsePortValue(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long value = std::stoul(text);
    if (value > 65535) return std::nullopt;
    return uint16_t(value);
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<BridgeOptions> parseCommandLine(const std::vector<std::string>& arguments,
                                              std::string& error) {
    BridgeOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size()) {
                error = option + " needs a value";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        std::string text;
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--simulate") {
            options.simulate = true;
        } else if (option == "--no-config") {
            options.noConfig = true;
        } else if (option == "--verbose") {
            options.verbose = true;
        } else if (option == "--port") {
            if (!value(text)) return std::nullopt;
            options.port = parsePortValue(text);
            if (!options.port) {
                error = "--port takes a port number from 0 (any free port) to 65535, not '" + text +
                        "'";
                return std::nullopt;
            }
        } else if (option == "--allow-origin") {
            if (!value(text)) return std::nullopt;
            const std::optional<std::string> origin = normaliseOrigin(text);
            if (!origin) {
                error = "--allow-origin takes an origin such as https://forms.example.com, not '" +
                        text + "'";
                return std::nullopt;
            }
            options.allowOrigins.push_back(*origin);
        } else if (option == "--config") {
            if (!value(text)) return std::nullopt;
            options.configFile = text;
        } else if (option == "--web") {
            if (!value(options.webDirectory)) return std::nullopt;
        } else if (option == "--model") {
            if (!value(text)) return std::nullopt;
            std::string model = text;
            std::transform(model.begin(), model.end(), model.begin(),
                           [](unsigned char c) { return char(std::toupper(c)); });
            if (model.rfind("0X", 0) == 0) model = model.substr(2);
            if (model != "A1" && model != "A2" && model != "A3" && model != "A4") {
                error = "--model takes A1, A2, A3 or A4, not '" + text + "'";
                return std::nullopt;
            }
            options.simulatedModel = 0xA0u + uint32_t(model[1] - '0');
        } else {
            error = "unknown option '" + option + "' (see --help)";
            return std::nullopt;
        }
    }
    return options;
}

std::optional<ConfigSettings> parseConfig(const std::string& text, const std::string& name,
                                          std::string& error) {
    if (text.size() > maxConfigBytes) {
        error = name + ": larger than " + std::to_string(maxConfigBytes / 1024) + " KiB";
        return std::nullopt;
    }
    ConfigSettings settings;
    std::istringstream lines(text);
    std::string line;
    for (size_t number = 1; std::getline(lines, line); ++number) {
        const std::string where = name + ":" + std::to_string(number) + ": ";
        if (line.size() > maxConfigLineBytes) {
            error = where + "line longer than " + std::to_string(maxConfigLineBytes) + " bytes";
            return std::nullopt;
        }
        if (line.find('\0') != std::string::npos) {
            error = where + "NUL byte in the line";
            return std::nullopt;
        }
        const size_t comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        line = trimmed(line);
        if (line.empty()) continue;
        const size_t gap = line.find_first_of(" \t=");
        const std::string key = line.substr(0, gap);
        std::string value = gap == std::string::npos ? "" : trimmed(line.substr(gap));
        if (!value.empty() && value.front() == '=') value = trimmed(value.substr(1));
        if (key == "port") {
            settings.port = parsePortValue(value);
            if (!settings.port) {
                error = where + "port takes a number from 0 to 65535, not '" + value + "'";
                return std::nullopt;
            }
        } else if (key == "allow-origin") {
            const std::optional<std::string> origin = normaliseOrigin(value);
            if (!origin) {
                error = where + "not an origin (http[s]://host[:port]): '" + value + "'";
                return std::nullopt;
            }
            settings.allowOrigins.push_back(*origin);
        } else {
            error = where + "unknown setting '" + key + "' (port, allow-origin)";
            return std::nullopt;
        }
    }
    return settings;
}

bool loadConfigFile(const std::string& path, bool mustExist, ConfigSettings& into,
                    std::string& error) {
    std::error_code failure;
    const bool exists = std::filesystem::exists(path, failure);
    if (!exists) {
        if (!mustExist) return true;
        error = path + ": no such file";
        return false;
    }
    if (std::filesystem::is_directory(path, failure)) {
        error = path + ": a folder, not a file";
        return false;
    }
    const uintmax_t size = std::filesystem::is_regular_file(path, failure)
                               ? std::filesystem::file_size(path, failure)
                               : 0;  // /dev/null, say
    if (failure || size > maxConfigBytes) {
        error = path + (failure ? ": cannot be read" : ": larger than 64 KiB");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::optional<ConfigSettings> settings = parseConfig(text, path, error);
    if (!settings) return false;
    if (settings->port) into.port = settings->port;
    into.allowOrigins.insert(into.allowOrigins.end(), settings->allowOrigins.begin(),
                             settings->allowOrigins.end());
    return true;
}

std::vector<std::string> defaultConfigFiles() {
    std::vector<std::string> files = {"/etc/zeltablet/bridge.conf"};
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && config[0] == '/')
        files.push_back(std::string(config) + "/zeltablet/bridge.conf");
    else if (home != nullptr && home[0] != '\0')
        files.push_back(std::string(home) + "/.config/zeltablet/bridge.conf");
    return files;
}

std::vector<std::string> allowedOrigins(uint16_t port, const std::vector<std::string>& extra) {
    std::vector<std::string> origins;
    for (const char* host : {"127.0.0.1", "localhost", "[::1]"})
        origins.push_back(
            *normaliseOrigin("http://" + std::string(host) + ":" + std::to_string(port)));
    for (const std::string& origin : extra)
        if (std::find(origins.begin(), origins.end(), origin) == origins.end())
            origins.push_back(origin);
    return origins;
}

const char* usageText() {
    return R"(Usage: zeltablet-bridge [options]

Serves signature pads to web pages on this computer (WebSocket at /pad) and the signing page
over HTTP, on 127.0.0.1 and ::1 only.

  --port N               TCP port (default 8765; 0: any free port)
  --allow-origin ORIGIN  also accept pages from ORIGIN, e.g. https://forms.example.com
                         (repeatable; the bridge's own page is always accepted)
  --config FILE          read FILE instead of /etc/zeltablet/bridge.conf and
                         ~/.config/zeltablet/bridge.conf
  --no-config            read no configuration file
  --web DIR              serve the signing page from DIR
  --simulate             serve a virtual pad that signs a scripted signature
  --model A1|A2|A3|A4    the virtual pad's model (default A3)
  --verbose              log every message
  --help                 this text

Configuration file lines: "port N", "allow-origin ORIGIN"; '#' starts a comment.
The log goes to standard error.
)";
}

}  // namespace zelbridge
