// The signing page's files, served from one folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelbridge {

struct WebFile {
    std::string contentType;
    std::string body;
};

constexpr size_t maxWebFileBytes = 16 * 1024 * 1024;

// The file for a request target ("/" is index.html), or nothing: an unknown type, a name with
// "..", a segment starting with '.', a '\', a query-less target that is not a plain name, or a
// file that is missing or too large.
std::optional<WebFile> readWebFile(const std::string& folder, std::string_view target);

// The web folder beside an installed program (PREFIX/share/zeltablet/web for PREFIX/bin), or
// the source tree's when that does not exist; "" when neither holds an index.html.
std::string findWebFolder(const std::string& programPath, const std::string& sourceFolder);

}  // namespace zelbridge
