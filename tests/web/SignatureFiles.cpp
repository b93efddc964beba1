// The browser tests' window into the signature library: reads a signature file the page
// downloaded and prints its samples, or draws a signature as the library's own PNG.
//
//   web_signature_files samples FILE FORMAT PAD        one line a sample: x y pressure
//                                                      switches timeCount timeMs
//   web_signature_files png FILE FORMAT PAD SCALE OUT  the PNG at SCALE output pixels per
//                                                      screen pixel
// FORMAT is csv, json or iso; PAD is productId,maxX,maxY,pressureLevels,screenWidth,
// screenHeight (what the bridge's info reports). Exit status 0, or 1 with the library's
// explanation on standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zeltablet/ZELSignature.h"

namespace {

struct SignatureDeleter {
    void operator()(ZELSignature* signature) const { ZELSig_Destroy(signature); }
};
using SignaturePtr = std::unique_ptr<ZELSignature, SignatureDeleter>;

struct BufferOwner {
    ZELSigBuffer buffer{};
    ~BufferOwner() { ZELSig_FreeBuffer(&buffer); }
};

int fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, ZELSig_LastError());
    return 1;
}

bool parseFormat(const char* text, int& format) {
    if (std::strcmp(text, "csv") == 0) {
        format = ZELSIG_FORMAT_CSV;
    } else if (std::strcmp(text, "json") == 0) {
        format = ZELSIG_FORMAT_JSON;
    } else if (std::strcmp(text, "iso") == 0) {
        format = ZELSIG_FORMAT_ISO;
    } else {
        return false;
    }
    return true;
}

bool parsePad(const char* text, ZELSigPad& pad) {
    unsigned values[6];
    if (std::sscanf(text, "%u,%u,%u,%u,%u,%u", &values[0], &values[1], &values[2], &values[3],
                    &values[4], &values[5]) != 6) {
        return false;
    }
    pad = ZELSigPad{};
    pad.productId = values[0];
    pad.capabilities.valid = 1;
    pad.capabilities.capability1 = values[1];
    pad.capabilities.capability2 = values[2];
    pad.capabilities.capability3 = values[3];
    pad.capabilities.screenWidth = values[4];
    pad.capabilities.screenHeight = values[5];
    return true;
}

SignaturePtr importFile(const char* path, int format, const ZELSigPad& pad) {
    ZELSignature* signature = nullptr;
    if (ZELSig_ImportFile(path, format, &pad, &signature) != ZELSIG_OK) return nullptr;
    return SignaturePtr(signature);
}

int printSamples(const ZELSignature* signature) {
    ZELSigInfo info{};
    if (ZELSig_GetInfo(signature, &info) != ZELSIG_OK) return fail("info");
    std::vector<ZELSigSample> samples(info.sampleCount);
    if (!samples.empty() &&
        ZELSig_GetSamples(signature, 0, info.sampleCount, samples.data()) != ZELSIG_OK) {
        return fail("samples");
    }
    for (const ZELSigSample& s : samples) {
        std::printf("%u %u %u %u %u %.3f\n", s.pen.x, s.pen.y, s.pen.pressure, s.pen.switches,
                    s.pen.timeCount, s.timeMs);
    }
    return 0;
}

int writePng(const ZELSignature* signature, double scale, const char* out) {
    ZELSigRenderOptions options;
    ZELSig_DefaultRenderOptions(&options);
    options.scale = scale;
    options.allowImplausible = 1;
    if (ZELSig_ExportFile(signature, ZELSIG_FORMAT_PNG, &options, out) != ZELSIG_OK) {
        return fail("png");
    }
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: web_signature_files samples FILE FORMAT PAD\n"
                 "       web_signature_files png FILE FORMAT PAD SCALE OUT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return usage();
    const std::string command = argv[1];
    int format = 0;
    ZELSigPad pad{};
    if (!parseFormat(argv[3], format) || !parsePad(argv[4], pad)) return usage();
    SignaturePtr signature = importFile(argv[2], format, pad);
    if (!signature) return fail(argv[2]);
    if (command == "samples" && argc == 5) return printSamples(signature.get());
    if (command == "png" && argc == 7) {
        const double scale = std::strtod(argv[5], nullptr);
        return writePng(signature.get(), scale, argv[6]);
    }
    return usage();
}
