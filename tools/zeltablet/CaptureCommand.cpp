// capture and demo: show a prompt, collect a signature from the pen, and save it through the
// signature library in the formats asked for (SVG, PNG and CSV by default; the demo adds JSON
// and the ISO record). A capture that is not a plausible signature is never saved as one. The
// demo does the same on a virtual colour pad when no pad is attached, and also saves what the
// virtual pad's screen shows (BASE-screen.png).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Commands.h"
#include "Interruption.h"
#include "OutputFile.h"
#include "PadSession.h"
#include "PictureCheck.h"
#include "PngFile.h"
#include "PromptPicture.h"
#include "SampleCollector.h"
#include "ScriptedSignature.h"
#include "SignatureFiles.h"

namespace zeltool {
namespace {

// A signature still going after this long is cut off (and kept, marked as partial): a pen
// resting on the pad would otherwise keep the capture open for ever.
constexpr double longestSignatureMs = 10 * 60 * 1000;

// The exit status after a request to stop (Ctrl-C): 128 + the signal, as a shell reports it.
int interruptedStatus() {
    return 128 + InterruptionGuard::signal();
}

struct CaptureSettings {
    std::string base;  // output files: base + each format's extension
    std::string prompt;
    double timeoutMs = 30000;
    double pauseMs = 1500;
    bool encrypted = false;
    std::vector<OutputFormat> formats;
    ZELSigRenderOptions render{};
    EvidenceFiles evidence;
    double minInkLengthMm = 0;
    double minInkDurationMs = 0;
};

bool readSettings(const Arguments& arguments, bool demo, CaptureSettings& settings,
                  std::string& error) {
    settings.base = arguments.value("--output", demo ? "zeltablet-demo/signature" : "signature");
    settings.prompt = arguments.value("--prompt");
    settings.encrypted = arguments.has("--encrypted");
    if (settings.base.empty() || settings.base.back() == '/') {
        error = "--output takes a file name without extension, e.g. out/signature";
        return false;
    }
    const auto seconds = [&](const char* name, double fallback, double max, double& out) {
        if (!arguments.has(name)) return out = fallback * 1000, true;
        const auto value = parseNonNegative(arguments.value(name), max);
        if (!value || *value <= 0) {
            error =
                std::string(name) + " takes seconds above 0, at most " + std::to_string(int(max));
            return false;
        }
        out = *value * 1000;
        return true;
    };
    if (!seconds("--timeout", 30, 3600, settings.timeoutMs) ||
        !seconds("--pause", 1.5, 60, settings.pauseMs))
        return false;
    if (arguments.has("--min-length")) {
        const auto value = parseNonNegative(arguments.value("--min-length"), 10000);
        if (!value) {
            error = "--min-length takes millimetres, 0 to 10000";
            return false;
        }
        settings.minInkLengthMm = *value;
    }
    if (arguments.has("--min-duration")) {
        const auto value = parseNonNegative(arguments.value("--min-duration"), 3600);
        if (!value) {
            error = "--min-duration takes seconds, 0 to 3600";
            return false;
        }
        settings.minInkDurationMs = *value * 1000;
    }
    settings.formats = parseFormats(
        arguments.value("--format", demo ? "svg,png,csv,json,iso" : "svg,png,csv"), error);
    return !settings.formats.empty() &&
           readEvidenceFiles(arguments, settings.formats, settings.evidence, error) &&
           readRenderOptions(arguments, 2, settings.render, error);
}

// Encrypted pen data needs a key agreed with the pad before capture starts; the reader then
// decrypts report 0x10 with it. The library's default group is used. Returns false, with the
// reason, when no key could be agreed.
bool agreePenDataKey(std::string& error) {
    const int32_t code = AgreePenDataKey(nullptr, 0, nullptr, 0);
    if (code == 0) return true;
    char message[256];
    GetErrorText(uint32_t(code), message, sizeof message);
    error = "--encrypted: no key agreed with the pad (code " + std::to_string(code) + ": " +
            message + ")";
    return false;
}

// The built-in prompt, drawn for this screen, in a temporary PNG file that setImage reads.
class PromptFile {
  public:
    bool create(const Capabilities& screen, std::string& error) {
        std::error_code noTemp;
        std::string name =
            (std::filesystem::temp_directory_path(noTemp) / "zeltablet-promptXXXXXX").string();
        const int fd = mkstemp(name.data());
        if (fd < 0) {
            error = "cannot create a temporary file for the prompt";
            return false;
        }
        close(fd);
        path_ = name;
        return writePngInPlace(path_, screen.screenWidth, screen.screenHeight,
                               drawPrompt(screen.screenWidth, screen.screenHeight),
                               PixelOrder::rgba, error);
    }
    ~PromptFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string describeOutcome(SampleCollector::Outcome outcome) {
    switch (outcome) {
        case SampleCollector::Outcome::signed_:
            return "signed";
        case SampleCollector::Outcome::nothingSigned:
            return "nothing signed before the time-out";
        case SampleCollector::Outcome::cutOff:
            return "still signing after " + std::to_string(int(longestSignatureMs / 60000)) +
                   " minutes: cut off";
        case SampleCollector::Outcome::padLost:
            return "the pad went away during the capture";
        case SampleCollector::Outcome::interrupted:
            return "interrupted";
    }
    return "";
}

// The signature of the samples that arrived, with the pad's description and the capture's
// metadata.
SignatureHandle buildSignature(const ZELSigPad& pad, const CaptureSettings& settings,
                               int64_t startUnixMs, const std::vector<ZELSigSample>& samples,
                               std::string& error) {
    ZELSignature* raw = nullptr;
    int result = ZELSig_Create(&pad, &raw);
    SignatureHandle signature(raw);
    if (result == ZELSIG_OK) result = ZELSig_SetCaptureStart(raw, startUnixMs);
    if (result == ZELSIG_OK) result = ZELSig_SetEncrypted(raw, settings.encrypted ? 1 : 0);
    if (result == ZELSIG_OK)
        result = ZELSig_SetMinimums(raw, settings.minInkLengthMm, settings.minInkDurationMs);
    for (size_t i = 0; i < samples.size() && result == ZELSIG_OK; ++i)
        result = ZELSig_AddSample(raw, &samples[i].pen, samples[i].timeMs);
    if (result != ZELSIG_OK) {
        error = "the signature: " + libraryError(result);
        signature.reset();
    }
    return signature;
}

// What a capture that is not a finished, plausible signature keeps, under names marked
// "-partial" so that it is never taken for a signature: the raw samples always (nothing
// received is lost), and the pictures and sample files asked for when the ink is plausible.
// Never an evidence package.
std::vector<OutputFormat> partialFormats(const std::vector<OutputFormat>& asked, bool plausible) {
    std::vector<OutputFormat> formats{OutputFormat::csv};
    if (!plausible) return formats;
    for (OutputFormat format : asked)
        if (format != OutputFormat::csv && format != OutputFormat::evidence)
            formats.push_back(format);
    return formats;
}

// A pad unplugged during the capture and plugged in again within the time-out: the library
// reconnects it (same settings, capture mode and key) and the capture goes on. Events arrive
// on the library's event thread.
struct PadComeback {
    static inline std::atomic<bool> away{false};
    static inline std::atomic<int64_t> leftAtMs{0};

    static int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static void onEvent(const ZELReconnectEvent* event, void*) {
        if (event->kind == ZEL_RECONNECT_LEFT) {
            leftAtMs = nowMs();
            away = true;
            std::printf("The pad was unplugged: waiting for it to come back...\n");
        } else if (event->kind == ZEL_RECONNECT_BACK) {
            away = false;
            std::printf("The pad is back after %.1f s: the capture goes on.\n",
                        event->gapMs / 1000.0);
        }
        std::fflush(stdout);
    }
    // Whether the pad is connected, or away for less than `timeoutMs`.
    static bool stillExpected(double timeoutMs) {
        if (away) return static_cast<double>(nowMs() - leftAtMs) < timeoutMs;
        return isConnected();
    }
};

int captureSignature(const Arguments& arguments, bool demo) {
    CaptureSettings settings;
    PadChoice choice;
    std::string error;
    if (!readSettings(arguments, demo, settings, error) || !readPadChoice(arguments, choice, error))
        return fail(exitUsage, error);
    // Where the files go is checked before anyone is asked to sign.
    if (!prepareOutputFolder(settings.base, error)) return fail(exitFailed, error);
    if (!settings.prompt.empty() && !readablePicture(settings.prompt, error))
        return fail(exitFailed, settings.prompt + ": " + error);
    // So are the evidence package's inputs.
    if (!settings.evidence.document.empty() && !readableFile(settings.evidence.document, error))
        return fail(exitFailed, error);
    for (const std::string& certificate : settings.evidence.recipients)
        if (!readableFile(certificate, error)) return fail(exitFailed, error);

    // From here on Ctrl-C stops the capture in order: temporary files go, what was signed
    // stays.
    const InterruptionGuard interruption;
    PadSession session(choice);
    if (demo && !choice.simulate && session.useVirtualPadIfNoneAttached()) {
        const uint32_t model = choice.model != 0 ? choice.model : 0xA3;
        std::printf("No pad attached: using a virtual %spad (model 0x%X).\n",
                    model == 0xA3           ? "colour "
                    : model == noPicturePad ? ""
                                            : "monochrome ",
                    model);
    }
    if (!session.connect(error)) return fail(exitFailed, error);
    if (settings.encrypted && !agreePenDataKey(error)) return fail(exitFailed, error);

    const Capabilities screen = GetCapabilities();
    if (screen.valid == 0) return fail(exitFailed, "the pad does not report its screen");
    // The pad's description is read now, while it is connected: the signature is built after
    // the connection has ended.
    ZELSigPad pad{};
    pad.productId = session.productId();
    pad.uid = GetUID();
    pad.capabilities = screen;
    std::unique_ptr<char, void (*)(void*)> model(GetModelNumber(), std::free);
    if (model) std::snprintf(pad.model, sizeof pad.model, "%s", model.get());
    std::printf("Pad: %s (0x%X%s), identifier 0x%08X, screen %u x %u\n",
                pad.model[0] != 0 ? pad.model : "?", pad.productId,
                session.virtualPad() != 0 ? ", virtual" : "", pad.uid, screen.screenWidth,
                screen.screenHeight);

    // Every sample, hovering included, reaches the callback; the pad draws the ink itself so
    // the signer sees it; time counts go into the CSV where the pad has them.
    BeginCapture(1, 0, nullptr);
    setInkingMode(1);
    enableTimecount(nullptr);

    PromptFile promptFile;
    if (session.productId() == noPicturePad) {
        std::printf("No prompt: %s.\n", noPictureReason);
    } else {
        std::string prompt = settings.prompt;
        if (prompt.empty()) {
            if (!promptFile.create(screen, error)) return fail(exitFailed, error);
            prompt = promptFile.path();
        }
        if (!session.showPicture(prompt, error)) return fail(exitFailed, "the prompt: " + error);
    }
    if (InterruptionGuard::requested()) {
        std::printf("Interrupted before signing: nothing was kept.\n");
        return interruptedStatus();
    }

    const int64_t startUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
    SampleCollector collector;
    // Whichever way this function is left, the connection ends (and with it the callbacks)
    // before the collector goes.
    struct ConnectionEndsFirst {
        PadSession& session;
        ~ConnectionEndsFirst() {
            session.disconnect();
            SampleCollector::detach();
        }
    } connectionEndsFirst{session};
    collector.attach();
    if (session.virtualPad() != 0) {
        const std::vector<SimulatorPenPoint> strokes =
            scriptedSignature(screen.capability1, screen.capability2, screen.capability3);
        if (!SimulatorQueueStroke(session.virtualPad(), strokes.data(), uint32_t(strokes.size())))
            return fail(exitFailed, "the virtual pad refused the scripted signature");
        std::printf("Signing on the virtual pad (%zu scripted pen samples)...\n", strokes.size());
    } else {
        std::printf(
            "Please sign on the pad (start within %.0f s; the pen up for %.1f s ends "
            "it)...\n",
            settings.timeoutMs / 1000, settings.pauseMs / 1000);
    }
    std::fflush(stdout);
    SampleCollector::Limits limits;
    limits.pauseMs = settings.pauseMs;
    limits.startMs = settings.timeoutMs;
    limits.longestMs = longestSignatureMs;
    SetReconnect(true, PadComeback::onEvent, nullptr);
    const SampleCollector::Outcome outcome = collector.wait(
        limits, [&] { return PadComeback::stillExpected(settings.timeoutMs); },
        [] { return InterruptionGuard::requested(); });
    SetReconnect(false, nullptr, nullptr);
    // After the disconnection no callback runs: the collector may then be read and go.
    session.disconnect();
    SampleCollector::detach();
    const std::vector<ZELSigSample> samples = collector.samples();

    const SignatureHandle signature = buildSignature(pad, settings, startUnixMs, samples, error);
    if (!signature) return fail(exitFailed, error);
    ZELSigInfo info{};
    int verdict = ZELSIG_NO_INK;
    ZELSig_GetInfo(signature.get(), &info);
    ZELSig_CheckPlausibility(signature.get(), &verdict);
    const bool complete = outcome == SampleCollector::Outcome::signed_;
    const bool plausible = verdict == ZELSIG_PLAUSIBLE;
    std::printf("Signature: %s; %u strokes, %u samples with ink of %u received",
                describeOutcome(outcome).c_str(), info.strokeCount, info.inkedSampleCount,
                info.sampleCount);
    if (info.inkedSampleCount > 0)
        std::printf(", %.1f s of writing, %.0f mm of ink", info.inkDurationMs / 1000,
                    info.inkLengthMm);
    std::printf("\n");
    if (!plausible && !samples.empty())
        std::printf("Not a signature: %s; no signature files are saved.\n",
                    describeVerdict(verdict).c_str());

    std::vector<std::string> saved;
    bool written = true;
    if (!samples.empty()) {
        const bool whole = complete && plausible;
        written =
            saveSignature(signature.get(), whole ? settings.base : settings.base + "-partial",
                          whole ? settings.formats : partialFormats(settings.formats, plausible),
                          settings.render, settings.evidence, saved, error);
    }
    // The virtual pad's screen goes beside the signature, under a name of its own.
    if (written && demo && session.virtualPad() != 0) {
        const std::string screenPng = settings.base + "-screen.png";
        const int32_t pad = session.virtualPad();
        written = replaceFile(
            screenPng,
            [pad](const std::string& temporary, std::string&) {
                return SimulatorSaveScreen(pad, temporary.c_str());
            },
            error);
        if (written) saved.push_back(screenPng);
    }
    if (!saved.empty()) {
        std::printf(complete && plausible ? "Saved:" : "Saved as a partial capture:");
        for (const std::string& file : saved)
            std::printf(" %s", file.c_str());
        std::printf("\n");
    } else if (!complete) {
        std::printf("Nothing was received from the pen: nothing was kept.\n");
    }
    if (!written) return fail(exitFailed, error);
    if (outcome == SampleCollector::Outcome::interrupted) return interruptedStatus();
    if (!complete)
        return fail(exitFailed, describeOutcome(outcome) +
                                    (saved.empty() ? "" : "; what arrived is kept as partial"));
    if (!plausible)
        return fail(exitImplausible,
                    "not a signature: " + describeVerdict(verdict) +
                        (saved.empty() ? "" : "; the samples are kept as partial"));
    return exitDone;
}

}  // namespace

int runCapture(const Arguments& arguments) {
    return captureSignature(arguments, false);
}

int runDemo(const Arguments& arguments) {
    return captureSignature(arguments, true);
}

}  // namespace zeltool
