// convert IN OUT: a signature's samples from one file format into another, through the
// signature library. The formats are told by the file names' extensions (.csv, .json, .iso;
// .svg and .png out); an input of another name is told by its content. Formats that do not
// carry the pad's description (CSV, JSON) take it from the pad chosen on the command line
// (--model, --uid, --com, --simulate), else from an unknown pad's defaults.
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "PadSession.h"
#include "SignatureFiles.h"

namespace zeltool {
namespace {

// The description of the pad the command line chose, read from the pad itself.
bool describeChosenPad(const Arguments& arguments, ZELSigPad& pad, std::string& error) {
    PadChoice choice;
    if (!readPadChoice(arguments, choice, error)) return false;
    PadSession session(choice);
    if (!session.connect(error)) return false;
    pad.productId = session.productId();
    pad.uid = GetUID();
    pad.capabilities = GetCapabilities();
    std::unique_ptr<char, void (*)(void*)> model(GetModelNumber(), std::free);
    if (model) std::snprintf(pad.model, sizeof pad.model, "%s", model.get());
    return true;
}

}  // namespace

int runConvert(const Arguments& arguments) {
    const std::string& in = arguments.positional[0];
    const std::string& out = arguments.positional[1];
    const std::optional<OutputFormat> inFormat = formatOfFileName(in);
    const std::optional<OutputFormat> outFormat = formatOfFileName(out);
    if (inFormat && (*inFormat == OutputFormat::svg || *inFormat == OutputFormat::png))
        return fail(exitUsage,
                    in + ": pictures cannot be read back; convert reads CSV, JSON and ISO");
    if (!outFormat)
        return fail(exitUsage, out + ": name the output .csv, .json, .iso, .svg or .png");
    ZELSigRenderOptions options{};
    std::string error;
    if (!readRenderOptions(arguments, 2, options, error)) return fail(exitUsage, error);

    ZELSigPad pad{};
    const bool padChosen = arguments.has("--model") || arguments.has("--uid") ||
                           arguments.has("--com") || arguments.has("--simulate");
    if (padChosen && !describeChosenPad(arguments, pad, error)) return fail(exitFailed, error);

    ZELSignature* raw = nullptr;
    const int read = ZELSig_ImportFile(in.c_str(), inFormat ? libraryFormat(*inFormat) : 0,
                                       padChosen ? &pad : nullptr, &raw);
    const SignatureHandle signature(raw);
    if (read != ZELSIG_OK) return fail(exitFailed, libraryError(read));

    // Pictures and sample formats are signatures: an implausible one is not written as one.
    int verdict = ZELSIG_PLAUSIBLE;
    ZELSig_CheckPlausibility(signature.get(), &verdict);
    if (*outFormat != OutputFormat::csv && verdict != ZELSIG_PLAUSIBLE)
        return fail(exitImplausible, in + ": not a signature: " + describeVerdict(verdict));
    if (!saveSignatureAs(signature.get(), out, *outFormat, options, EvidenceFiles{}, error))
        return fail(exitFailed, error);
    ZELSigInfo info{};
    ZELSig_GetInfo(signature.get(), &info);
    std::printf("Converted %s to %s: %u samples, %u strokes\n", in.c_str(), out.c_str(),
                info.sampleCount, info.strokeCount);
    return exitDone;
}

}  // namespace zeltool
