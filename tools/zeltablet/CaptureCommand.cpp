// capture and demo: show a prompt, collect a signature from the pen, and save it as SVG, PNG
// and CSV. The demo does the same on a virtual colour pad when no pad is attached, and also
// saves what the virtual pad's screen shows.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Commands.h"
#include "PadSession.h"
#include "PngFile.h"
#include "PromptPicture.h"
#include "SampleCollector.h"
#include "ScriptedSignature.h"
#include "SignatureWriters.h"

namespace zeltool {
namespace {

struct CaptureSettings {
    std::string base;  // output files: base + ".svg", ".png", ".csv"
    std::string prompt;
    double timeoutMs = 30000;
    double pauseMs = 1500;
    double scale = 2;
    bool encrypted = false;
    InkStyle style;
};

bool readSettings(const Arguments& arguments, const std::string& defaultBase,
                  CaptureSettings& settings, std::string& error) {
    settings.base = arguments.value("--output", defaultBase);
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
    if (arguments.has("--scale")) {
        const auto scale = parseNonNegative(arguments.value("--scale"), 8);
        if (!scale || *scale < 0.25) {
            error = "--scale takes 0.25 to 8";
            return false;
        }
        settings.scale = *scale;
    }
    for (const char* name : {"--ink", "--background"}) {
        if (!arguments.has(name)) continue;
        const auto colour = parseColour(arguments.value(name));
        if (!colour) {
            error = std::string(name) + " takes #RRGGBB or 0xNNNN";
            return false;
        }
        (std::string(name) == "--ink" ? settings.style.ink : settings.style.background.emplace()) =
            *colour;
    }
    return true;
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
        return writePng(path_, screen.screenWidth, screen.screenHeight,
                        drawPrompt(screen.screenWidth, screen.screenHeight), PixelOrder::rgba,
                        error);
    }
    ~PromptFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string describeOutcome(SampleCollector::Outcome outcome, size_t inked) {
    switch (outcome) {
        case SampleCollector::Outcome::signed_:
            return "signed";
        case SampleCollector::Outcome::timedOut:
            return inked > 0 ? "time-out while signing; kept what was signed"
                             : "nothing signed before the time-out";
        case SampleCollector::Outcome::padLost:
            return "the pad went away during the capture";
    }
    return "";
}

int captureSignature(const Arguments& arguments, bool demo) {
    CaptureSettings settings;
    PadChoice choice;
    std::string error;
    if (!readSettings(arguments, demo ? "zeltablet-demo/signature" : "signature", settings,
                      error) ||
        !readPadChoice(arguments, choice, error))
        return fail(exitUsage, error);
    const std::filesystem::path base(settings.base);
    std::error_code fsError;
    if (base.has_parent_path()) std::filesystem::create_directories(base.parent_path(), fsError);

    PadSession session(choice);
    if (demo && !choice.simulate && session.useVirtualPadIfNoneAttached())
        std::printf("No pad attached: using a virtual colour pad (model 0x%X).\n",
                    choice.model != 0 ? choice.model : 0xA3);
    if (!session.connect(error)) return fail(exitFailed, error);
    if (settings.encrypted && !agreePenDataKey(error)) return fail(exitFailed, error);

    const Capabilities screen = GetCapabilities();
    if (screen.valid == 0) return fail(exitFailed, "the pad does not report its screen");
    std::unique_ptr<char, void (*)(void*)> model(GetModelNumber(), std::free);
    std::printf("Pad: %s (0x%X%s), identifier 0x%08X, screen %u x %u\n", model ? model.get() : "?",
                session.productId(), session.virtualPad() != 0 ? ", virtual" : "", GetUID(),
                screen.screenWidth, screen.screenHeight);

    // Every sample, hovering included, reaches the callback; the pad draws the ink itself so
    // the signer sees it; time counts go into the CSV where the pad has them.
    BeginCapture(1, 0, nullptr);
    setInkingMode(1);
    enableTimecount(nullptr);

    PromptFile promptFile;
    std::string prompt = settings.prompt;
    if (prompt.empty()) {
        if (!promptFile.create(screen, error)) return fail(exitFailed, error);
        prompt = promptFile.path();
    }
    if (!session.showPicture(prompt, error)) return fail(exitFailed, "the prompt: " + error);

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
        std::printf("Please sign on the pad (up to %.0f s; the pen up for %.1f s ends it)...\n",
                    settings.timeoutMs / 1000, settings.pauseMs / 1000);
    }
    std::fflush(stdout);
    const SampleCollector::Outcome outcome =
        collector.wait(settings.pauseMs, settings.timeoutMs, [] { return isConnected(); });
    // After the disconnection no callback runs: the collector may then be read and go.
    session.disconnect();
    SampleCollector::detach();
    const std::vector<CapturedSample> samples = collector.samples();

    const Signature signature = traceSignature(samples, penSpaceFor(screen, settings.scale), 8);
    double firstInk = -1, lastInk = 0;
    for (const CapturedSample& s : samples) {
        if (s.pen.pressure == 0) continue;
        if (firstInk < 0) firstInk = s.receivedMs;
        lastInk = s.receivedMs;
    }
    std::printf("Signature: %s; %zu strokes, %zu samples with ink of %zu received",
                describeOutcome(outcome, signature.inkedSamples).c_str(), signature.strokes.size(),
                signature.inkedSamples, samples.size());
    if (firstInk >= 0) std::printf(", %.1f s of writing", (lastInk - firstInk) / 1000);
    std::printf("\n");

    // The raw samples are kept whatever happened: nothing received is lost.
    std::vector<std::string> saved;
    bool written = true;
    if (!samples.empty()) {
        written = writeCsv(settings.base + ".csv", samples, error);
        if (written) saved.push_back(settings.base + ".csv");
    }
    if (written && !signature.strokes.empty()) {
        written = writeSvg(settings.base + ".svg", signature, settings.style, error) &&
                  writeSignaturePng(settings.base + ".png", signature, settings.style, error);
        if (written) {
            saved.push_back(settings.base + ".svg");
            saved.push_back(settings.base + ".png");
        }
    }
    if (written && demo && session.virtualPad() != 0) {
        const std::string screenPng = (base.parent_path() / "screen.png").string();
        written = SimulatorSaveScreen(session.virtualPad(), screenPng.c_str());
        if (written)
            saved.push_back(screenPng);
        else
            error = screenPng + ": cannot write the file";
    }
    if (!saved.empty()) {
        std::printf("Saved:");
        for (const std::string& file : saved)
            std::printf(" %s", file.c_str());
        if (!signature.strokes.empty())
            std::printf(" (signature %u x %u pixels)", signature.width, signature.height);
        std::printf("\n");
    }
    if (!written) return fail(exitFailed, error);
    if (signature.strokes.empty() || outcome == SampleCollector::Outcome::padLost)
        return fail(exitFailed, describeOutcome(outcome, signature.inkedSamples));
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
