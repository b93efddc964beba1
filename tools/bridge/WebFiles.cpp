#include "WebFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace zelbridge {
namespace {

const char* contentTypeFor(const std::string& extension) {
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".json", "application/json"},
        {".ico", "image/x-icon"}};
    for (const auto& [known, type] : types)
        if (extension == known) return type;
    return nullptr;
}

bool safeSegment(std::string_view segment) {
    if (segment.empty() || segment.front() == '.') return false;
    for (char c : segment) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x21 || u == 0x7F || c == '\\' || c == ':' || c == '%') return false;
    }
    return true;
}

}  // namespace

std::optional<WebFile> readWebFile(const std::string& folder, std::string_view target) {
    if (folder.empty() || target.empty() || target.front() != '/' || target.size() > 256)
        return std::nullopt;
    const size_t query = target.find_first_of("?#");
    if (query != std::string_view::npos) target = target.substr(0, query);
    std::string relative(target.substr(1));
    if (relative.empty()) relative = "index.html";
    std::filesystem::path path(folder);
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const std::string_view segment = std::string_view(relative).substr(
            start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!safeSegment(segment)) return std::nullopt;
        path /= std::string(segment);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    const char* type = contentTypeFor(path.extension().string());
    std::error_code error;
    if (type == nullptr || !std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) > maxWebFileBytes || error)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    WebFile file;
    file.contentType = type;
    file.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return file;
}

std::string findWebFolder(const std::string& programPath, const std::string& sourceFolder) {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::absolute(programPath, error);
    const std::filesystem::path installed =
        program.parent_path().parent_path() / "share" / "zeltablet" / "web";
    for (const std::filesystem::path& candidate :
         {installed, std::filesystem::path(sourceFolder)}) {
        if (!candidate.empty() && std::filesystem::is_regular_file(candidate / "index.html", error))
            return candidate.string();
    }
    return {};
}

}  // namespace zelbridge
