// The picture commands, which need no pad: decode (the pixels the library loads from a
// picture file) and preview (what a pad of a given model shows for it, from a virtual pad that
// went through the very same fitting, conversion and upload).
#include <cstdio>
#include <vector>

#include "Commands.h"
#include "OutputFile.h"
#include "PadSession.h"
#include "PictureCheck.h"
#include "PngFile.h"

namespace zeltool {
namespace {

std::string decodeRefusal(const std::string& picture, int32_t result) {
    std::string reason;
    switch (result) {
        case ZEL_PICTURE_NO_FILE:
            if (readablePicture(picture, reason)) reason = "cannot be read";
            return reason;
        case ZEL_PICTURE_NOT_LOADED:
            reason = unsupportedPicture(picture);
            return !reason.empty()
                       ? reason
                       : "not a picture the library loads (PNG, BMP, JPEG, GIF), or damaged";
        default:
            return "cannot be decoded (result " + std::to_string(result) + ")";
    }
}

}  // namespace

int runDecode(const Arguments& arguments) {
    const std::string& picture = arguments.positional[0];
    const std::string& output = arguments.positional[1];
    uint32_t width = 0, height = 0;
    int32_t result = DecodePictureFile(picture.c_str(), &width, &height, nullptr, 0);
    if (result != ZEL_PICTURE_OK)
        return fail(exitFailed, picture + ": " + decodeRefusal(picture, result));
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(size_t(width) * height * 4);
    } catch (const std::bad_alloc&) {
        return fail(exitFailed, picture + ": too large to hold in memory");
    }
    result = DecodePictureFile(picture.c_str(), &width, &height, pixels.data(), pixels.size());
    // The file may have changed between the two calls.
    if (result != ZEL_PICTURE_OK || pixels.size() != size_t(width) * height * 4)
        return fail(exitFailed, picture + ": " + decodeRefusal(picture, result));
    std::string error;
    if (!writePng(output, width, height, pixels, PixelOrder::bgra, error))
        return fail(exitFailed, output + ": " + error);
    std::printf("%s: %u x %u pixels, written to %s\n", picture.c_str(), width, height,
                output.c_str());
    return exitDone;
}

int runPreview(const Arguments& arguments) {
    PadChoice choice;
    std::string error;
    if (!readPadChoice(arguments, choice, error)) return fail(exitUsage, error);
    if (choice.model == 0 || choice.model == noPicturePad)
        return fail(exitUsage, choice.model == 0 ? "preview needs --model (0xA1, 0xA2 or 0xA3)"
                                                 : std::string("preview: ") + noPictureReason +
                                                       "; choose --model 0xA1, 0xA2 or 0xA3");
    if (choice.com != 0 || choice.uid != 0)
        return fail(exitUsage, "preview uses a virtual pad; --com and --uid do not apply");
    choice.simulate = true;
    PadSession session(choice);
    if (!session.connect(error)) return fail(exitFailed, error);
    const std::string& picture = arguments.positional[0];
    const std::string& output = arguments.positional[1];
    if (!session.showPicture(picture, error)) return fail(exitFailed, picture + ": " + error);
    const int32_t pad = session.virtualPad();
    if (!replaceFile(
            output,
            [pad](const std::string& temporary, std::string&) {
                return SimulatorSaveScreen(pad, temporary.c_str());
            },
            error))
        return fail(exitFailed, error);
    const Capabilities screen = GetCapabilities();
    std::printf("%s on pad 0x%X (%u x %u): written to %s\n", picture.c_str(), choice.model,
                screen.screenWidth, screen.screenHeight, output.c_str());
    return exitDone;
}

}  // namespace zeltool
