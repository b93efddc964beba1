// zeltablet verify PACKAGE --document FILE --key KEY.pem [--cert CERT.pem] [--png OUT.png]:
// opens an evidence package with the recipient's key, says what it found, and exits 0 only when
// everything matched (the document, and the host signature when the package carries one).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "OutputFile.h"
#include "zeltablet/ZELSignature.h"

namespace zeltool {
namespace {

using Bytes = std::vector<uint8_t>;

// Limits on what is read into memory: keys and certificates are small, packages are at most
// what the library opens, documents are hashed whole.
constexpr std::uintmax_t kKeyFileLimit = 1u << 20;
constexpr std::uintmax_t kPackageFileLimit = 256u << 20;
constexpr std::uintmax_t kDocumentFileLimit = std::uintmax_t{2} << 30;

bool readWhole(const std::string& path, std::uintmax_t limit, Bytes& out, std::string& error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uintmax_t>(size) > limit) {
        error = path + ": larger than " + std::to_string(limit >> 20) + " MiB";
        return false;
    }
    out.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(out.data()), size)) {
        error = path + ": cannot be read";
        return false;
    }
    return true;
}

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct SignatureDeleter {
    void operator()(ZELSignature* signature) const { ZELSig_Destroy(signature); }
};

std::string describe(const ZELSignature* signature) {
    ZELSigInfo info{};
    if (signature == nullptr || ZELSig_GetInfo(signature, &info) != ZELSIG_OK) return "unreadable";
    char text[256];
    std::snprintf(text, sizeof text, "%u samples, %u strokes, %.0f ms, pad %s (uid %u)%s",
                  info.sampleCount, info.strokeCount, info.durationMs,
                  info.pad.model[0] != '\0' ? info.pad.model : "unknown", info.pad.uid,
                  info.encrypted ? ", pen data encrypted by the pad" : "");
    return text;
}

}  // namespace

int runVerify(const Arguments& arguments) {
    if (!arguments.has("--document") || !arguments.has("--key")) {
        return fail(exitUsage, "verify needs --document FILE and --key KEY.pem");
    }
    const std::string packagePath = arguments.positional[0];
    const std::string documentPath = arguments.value("--document");
    const std::string keyPath = arguments.value("--key");
    Bytes package, document, key, certificate;
    std::string error;
    if (!readWhole(packagePath, kPackageFileLimit, package, error) ||
        !readWhole(documentPath, kDocumentFileLimit, document, error) ||
        !readWhole(keyPath, kKeyFileLimit, key, error) ||
        (arguments.has("--cert") &&
         !readWhole(arguments.value("--cert"), kKeyFileLimit, certificate, error))) {
        return fail(exitFailed, error);
    }

    ZELSigEvidenceReport report{};
    ZELSignature* opened = nullptr;
    ZELSigBuffer png{};
    const ZELSigBlob keyBlob{key.data(), key.size()};
    const ZELSigBlob certificateBlob{certificate.empty() ? nullptr : certificate.data(),
                                     certificate.size()};
    const int result =
        ZELSig_OpenEvidence(package.data(), package.size(), keyBlob, certificateBlob,
                            document.data(), document.size(), &report, &opened, &png);
    if (result != ZELSIG_OK) {
        std::printf("package:   %s\nresult:    FAILED\n", ZELSig_LastError());
        return exitFailed;
    }
    std::unique_ptr<ZELSignature, SignatureDeleter> signature(opened);

    const bool signerOk = report.signed_ == 0 || report.signerValid == 1;
    std::printf("package:   opened\n");
    if (report.signed_ == 0) {
        std::printf("signed:    no (the package carries no host signature)\n");
    } else {
        std::printf(
            "signed:    %s, by %s (the signer's certificate is not checked against a "
            "trust store)\n",
            report.signerValid ? "signature valid" : "SIGNATURE DOES NOT VERIFY",
            report.signerSubject[0] != '\0' ? report.signerSubject : "an unnamed signer");
    }
    std::printf("document:  %s, SHA-256 %s: %s %s\n",
                report.documentName[0] != '\0' ? report.documentName : "(no name)",
                report.documentSha256, report.documentMatches ? "matches" : "DOES NOT MATCH",
                documentPath.c_str());
    std::printf("signature: %s\n", describe(signature.get()).c_str());

    int status = report.documentMatches && signerOk ? exitDone : exitFailed;
    if (arguments.has("--png")) {
        const std::string target = arguments.value("--png");
        const bool written = replaceFile(
            target,
            [&](const std::string& path, std::string& why) {
                std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
                const bool complete = file != nullptr &&
                                      std::fwrite(png.data, 1, png.size, file.get()) == png.size &&
                                      std::fflush(file.get()) == 0;
                if (!complete) why = "cannot be written";
                return complete;
            },
            error);
        if (written) {
            std::printf("picture:   %s\n", target.c_str());
        } else {
            std::printf("picture:   not written (%s)\n", error.c_str());
            status = exitFailed;
        }
    }
    ZELSig_FreeBuffer(&png);
    std::printf("result:    %s\n", status == exitDone ? "everything matched" : "FAILED");
    return status;
}

}  // namespace zeltool
