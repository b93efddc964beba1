#include "SignatureFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "OutputFile.h"

namespace zeltool {
namespace {

struct FormatName {
    const char* name;
    OutputFormat format;
    const char* extension;
    int library;  // 0: not a library format
};
const FormatName formatNames[] = {
    {"svg", OutputFormat::svg, ".svg", ZELSIG_FORMAT_SVG},
    {"png", OutputFormat::png, ".png", ZELSIG_FORMAT_PNG},
    {"csv", OutputFormat::csv, ".csv", ZELSIG_FORMAT_CSV},
    {"json", OutputFormat::json, ".json", ZELSIG_FORMAT_JSON},
    {"iso", OutputFormat::iso, ".iso", ZELSIG_FORMAT_ISO},
    {"evidence", OutputFormat::evidence, ".p7m", 0},
};

const FormatName& entryOf(OutputFormat format) {
    for (const FormatName& entry : formatNames)
        if (entry.format == format) return entry;
    return formatNames[0];
}

// Documents are hashed whole in memory; anything larger is not a document a pad signs for.
constexpr size_t largestDocument = size_t(1) << 30;
constexpr size_t largestCertificate = size_t(1) << 20;

uint32_t rgbOf(Colour colour) {
    return uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 | colour.blue;
}

bool writeBytes(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
    return replaceFile(
        path,
        [&](const std::string& temporary, std::string& writeError) {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
            out.close();
            if (!out) writeError = "write failed";
            return bool(out);
        },
        error);
}

bool saveEvidence(const ZELSignature* signature, const std::string& path,
                  const ZELSigRenderOptions& options, const EvidenceFiles& files,
                  std::string& error) {
    std::vector<uint8_t> document;
    if (!readWholeFile(files.document, largestDocument, document, error)) return false;
    std::vector<std::vector<uint8_t>> certificates(files.recipients.size());
    std::vector<ZELSigBlob> recipients;
    for (size_t i = 0; i < files.recipients.size(); ++i) {
        if (!readWholeFile(files.recipients[i], largestCertificate, certificates[i], error))
            return false;
        recipients.push_back({certificates[i].data(), certificates[i].size()});
    }
    ZELSigEvidenceOptions evidence{};
    evidence.document = document.data();
    evidence.documentSize = document.size();
    const std::string documentName = std::filesystem::path(files.document).filename().string();
    evidence.documentName = documentName.c_str();
    evidence.recipients = recipients.data();
    evidence.recipientCount = recipients.size();
    ZELSigBuffer package{};
    const int result = ZELSig_CreateEvidence(signature, &evidence, &options, &package);
    if (result != ZELSIG_OK) {
        error = path + ": " + libraryError(result);
        return false;
    }
    const bool written = writeBytes(path, package.data, package.size, error);
    ZELSig_FreeBuffer(&package);
    return written;
}

}  // namespace

std::vector<OutputFormat> parseFormats(const std::string& text, std::string& error) {
    std::vector<OutputFormat> formats;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma - start);
        const FormatName* found = nullptr;
        for (const FormatName& entry : formatNames)
            if (name == entry.name) found = &entry;
        if (found == nullptr) {
            error =
                "--format takes svg, png, csv, json, iso and evidence, separated by commas; "
                "not '" +
                name + "'";
            return {};
        }
        for (OutputFormat format : formats)
            if (format == found->format) {
                error = "--format names " + name + " twice";
                return {};
            }
        formats.push_back(found->format);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return formats;
}

const char* extensionOf(OutputFormat format) {
    return entryOf(format).extension;
}

std::optional<OutputFormat> formatOfFileName(const std::string& name) {
    std::string extension = std::filesystem::path(name).extension().string();
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    for (const FormatName& entry : formatNames)
        if (entry.library != 0 && extension == entry.extension) return entry.format;
    return std::nullopt;
}

int libraryFormat(OutputFormat format) {
    return entryOf(format).library;
}

bool readRenderOptions(const Arguments& arguments, double scale, ZELSigRenderOptions& options,
                       std::string& error) {
    ZELSig_DefaultRenderOptions(&options);
    options.scale = scale;
    if (arguments.has("--scale")) {
        const auto value = parseNonNegative(arguments.value("--scale"), 8);
        if (!value || *value < 0.25) {
            error = "--scale takes 0.25 to 8";
            return false;
        }
        options.scale = *value;
    }
    for (const char* name : {"--ink", "--background"}) {
        if (!arguments.has(name)) continue;
        const auto colour = parseColour(arguments.value(name));
        if (!colour) {
            error = std::string(name) + " takes #RRGGBB or 0xNNNN";
            return false;
        }
        if (std::string(name) == "--ink") {
            options.inkColour = rgbOf(*colour);
        } else {
            options.backgroundColour = rgbOf(*colour);
            options.transparent = 0;
        }
    }
    return true;
}

bool readEvidenceFiles(const Arguments& arguments, const std::vector<OutputFormat>& formats,
                       EvidenceFiles& files, std::string& error) {
    bool evidence = false;
    for (OutputFormat format : formats)
        evidence = evidence || format == OutputFormat::evidence;
    files.document = arguments.value("--document");
    files.recipients.clear();
    const std::string recipients = arguments.value("--recipient");
    for (size_t start = 0; !recipients.empty() && start <= recipients.size();) {
        const size_t comma = std::min(recipients.find(',', start), recipients.size());
        files.recipients.push_back(recipients.substr(start, comma - start));
        if (files.recipients.back().empty()) {
            error = "--recipient takes certificate files separated by commas";
            return false;
        }
        start = comma + 1;
    }
    if (!evidence) {
        if (arguments.has("--document") || arguments.has("--recipient")) {
            error = "--document and --recipient go with --format ...,evidence";
            return false;
        }
        return true;
    }
    if (files.document.empty() || files.recipients.empty()) {
        error = "an evidence package needs --document FILE and --recipient CERT.pem";
        return false;
    }
    return true;
}

std::string describeVerdict(int verdict) {
    switch (verdict) {
        case ZELSIG_NO_INK:
            return "no ink";
        case ZELSIG_SINGLE_DOT:
            return "the ink is a single dot";
        case ZELSIG_TOO_SHORT:
            return "the ink is shorter than --min-length";
        case ZELSIG_TOO_BRIEF:
            return "the ink lasted less than --min-duration";
        default:
            return "not plausible";
    }
}

std::string libraryError(int result) {
    const std::string reason = ZELSig_LastError();
    return std::string(ZELSig_ResultText(result)) + (reason.empty() ? "" : ": " + reason);
}

bool saveSignatureAs(const ZELSignature* signature, const std::string& path, OutputFormat format,
                     const ZELSigRenderOptions& options, const EvidenceFiles& evidence,
                     std::string& error) {
    if (format == OutputFormat::evidence)
        return saveEvidence(signature, path, options, evidence, error);
    ZELSigBuffer bytes{};
    const int result = ZELSig_Export(signature, libraryFormat(format), &options, &bytes);
    if (result != ZELSIG_OK) {
        error = path + ": " + libraryError(result);
        return false;
    }
    const bool written = writeBytes(path, bytes.data, bytes.size, error);
    ZELSig_FreeBuffer(&bytes);
    return written;
}

bool saveSignature(const ZELSignature* signature, const std::string& base,
                   const std::vector<OutputFormat>& formats, const ZELSigRenderOptions& options,
                   const EvidenceFiles& evidence, std::vector<std::string>& saved,
                   std::string& error) {
    // The evidence package first: the step most likely to be refused (a certificate that
    // cannot be used), and then nothing else is written either.
    std::vector<OutputFormat> ordered;
    for (OutputFormat format : formats)
        if (format == OutputFormat::evidence) ordered.push_back(format);
    for (OutputFormat format : formats)
        if (format != OutputFormat::evidence) ordered.push_back(format);
    for (OutputFormat format : ordered) {
        const std::string path = base + extensionOf(format);
        if (!saveSignatureAs(signature, path, format, options, evidence, error)) return false;
        saved.push_back(path);
    }
    return true;
}

bool readableFile(const std::string& path, std::string& error) {
    std::error_code failure;
    if (std::filesystem::is_directory(path, failure)) {
        error = path + ": is a folder";
        return false;
    }
    if (!std::ifstream(path, std::ios::binary)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool readWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                   std::string& error) {
    if (!readableFile(path, error)) return false;
    std::error_code failure;
    const auto size = std::filesystem::file_size(path, failure);
    if (!failure && size > limit) {
        error = path + ": larger than " + std::to_string(limit >> 20) + " MiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": read failed";
        return false;
    }
    if (bytes.size() > limit) {
        error = path + ": larger than " + std::to_string(limit >> 20) + " MiB";
        return false;
    }
    return true;
}

}  // namespace zeltool
