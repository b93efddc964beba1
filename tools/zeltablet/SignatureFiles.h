// The signature's files, written through the signature library: which formats the command
// line asks for, how pictures are drawn, and the evidence package's inputs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Arguments.h"
#include "zeltablet/ZELSignature.h"

namespace zeltool {

struct SignatureDeleter {
    void operator()(ZELSignature* signature) const { ZELSig_Destroy(signature); }
};
using SignatureHandle = std::unique_ptr<ZELSignature, SignatureDeleter>;

enum class OutputFormat { svg, png, csv, json, iso, evidence };

// "svg,png,csv,json,iso,evidence", any of them in any order, each once. Empty on a bad list,
// with the reason in `error`.
std::vector<OutputFormat> parseFormats(const std::string& text, std::string& error);
// The extension each format is written with: ".svg", ".png", ".csv", ".json", ".iso", ".p7m".
const char* extensionOf(OutputFormat format);
// The format a file name's extension names (convert): CSV, JSON, ISO, SVG or PNG.
std::optional<OutputFormat> formatOfFileName(const std::string& name);
// The library's format code of a format other than evidence.
int libraryFormat(OutputFormat format);

// --scale, --ink and --background as the library's render options (default scale `scale`).
// False, with the reason, for a value out of range.
bool readRenderOptions(const Arguments& arguments, double scale, ZELSigRenderOptions& options,
                       std::string& error);

// What an evidence package is made of: the document's file and the certificate files of those
// who may open it.
struct EvidenceFiles {
    std::string document;
    std::vector<std::string> recipients;
};
// --document and --recipient (one certificate file, or several separated by commas): both
// required when the formats include evidence, refused otherwise.
bool readEvidenceFiles(const Arguments& arguments, const std::vector<OutputFormat>& formats,
                       EvidenceFiles& files, std::string& error);

// What a plausibility verdict means, in the program's own terms ("no ink", ...).
std::string describeVerdict(int verdict);

// "RESULT: what went wrong" for the library's last failed call.
std::string libraryError(int result);

// Writes `signature` in `format` to `path`, replacing it whole or leaving it as it was. False,
// with "PATH: reason".
bool saveSignatureAs(const ZELSignature* signature, const std::string& path, OutputFormat format,
                     const ZELSigRenderOptions& options, const EvidenceFiles& evidence,
                     std::string& error);

// Writes `signature` as BASE + extension in each format; each file is replaced whole or left
// as it was. The names written go to `saved`. False, with "FILE: reason", at the first
// failure.
bool saveSignature(const ZELSignature* signature, const std::string& base,
                   const std::vector<OutputFormat>& formats, const ZELSigRenderOptions& options,
                   const EvidenceFiles& evidence, std::vector<std::string>& saved,
                   std::string& error);

// Whether `path` is a file that can be read; false with the reason.
bool readableFile(const std::string& path, std::string& error);

// A whole file's bytes, at most `limit`; false with the reason.
bool readWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                   std::string& error);

}  // namespace zeltool
