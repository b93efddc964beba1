// setImage of an 800 x 480 JPEG photograph on the colour pad (480 x 272), broken down into
// its stages: the library's own work, with a virtual pad that answers at once. The two fixed
// 100 ms pauses of the upload sequence (after the data, after the end report) and the 600 ms
// interval between screen operations are waits the pad asks for, not work: they are taken
// out of the total and shown apart. Each figure is the median of the runs; decoding alone
// through the JPEG library is the baseline the other stages are set against.
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/Simulator.h"
#include "image/ZELTabletImage.h"
#include "platform/Platform.h"
#include "zeltablet/ZELTabletCore.h"

namespace {

constexpr int kWidth = 800, kHeight = 480, kRuns = 15;
constexpr double kPausesMs = 2 * 100.0;

// A photograph-like picture: smooth gradients with noise, at JPEG quality 90.
std::vector<uint8_t> jpegPhoto() {
    std::vector<uint8_t> bgrx(size_t(kWidth) * kHeight * 4);
    std::mt19937 noise(5);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &bgrx[(size_t(y) * kWidth + x) * 4];
            p[0] = uint8_t((x + y) * 255 / (kWidth + kHeight) + noise() % 12);
            p[1] = uint8_t(y * 255 / kHeight - noise() % 12);
            p[2] = uint8_t(x * 255 / kWidth + noise() % 12);
        }
    tjhandle compressor = tjInitCompress();
    unsigned char* encoded = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, bgrx.data(), kWidth, 0, kHeight, TJPF_BGRX, &encoded, &size, TJSAMP_420,
                90, 0);
    std::vector<uint8_t> file(encoded, encoded + size);
    tjFree(encoded);
    tjDestroy(compressor);
    return file;
}

double medianMs(const std::function<void()>& work) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    const std::vector<uint8_t> jpeg = jpegPhoto();
    const std::string path = "/tmp/zeltablet-setimage-bench.jpg";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    const std::wstring widePath(path.begin(), path.end());

    // The JPEG library's own decoding into the loader's pixel layout: the baseline.
    tjhandle decompressor = tjInitDecompress();
    const double baseline = medianMs([&] {
        std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4);
        tjDecompress2(decompressor, jpeg.data(), jpeg.size(), pixels.data(), kWidth, 0, kHeight,
                      TJPF_BGRX, 0);
    });
    tjDestroy(decompressor);

    // The library's stages, one after the other on one picture per run, as setImage runs
    // them.
    std::vector<double> stages[3];
    for (int run = 0; run < kRuns; ++run) {
        zel::PixelImage picture;
        const auto t0 = std::chrono::steady_clock::now();
        picture.loadFromFile(widePath.c_str());
        const auto t1 = std::chrono::steady_clock::now();
        picture.resample(480, 272);
        const auto t2 = std::chrono::steady_clock::now();
        picture.toMonochrome();
        picture.toRgb565();
        const auto t3 = std::chrono::steady_clock::now();
        stages[0].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        stages[1].push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        stages[2].push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
    }
    for (auto& times : stages)
        std::sort(times.begin(), times.end());
    const double load = stages[0][kRuns / 2], fitOnly = stages[1][kRuns / 2],
                 convert = stages[2][kRuns / 2];
    zel::ZELTabletImage image(480, 272);
    const double prepare = medianMs([&] { image.loadFile(widePath.c_str()); });

    // The whole export on a virtual colour pad, through the bulk pipe and through 252-byte
    // data reports. The interval is waited out before each timed call.
    double total[2] = {};
    for (int route = 0; route < 2; ++route) {
        SimulatorEnable();
        const int32_t pad = SimulatorAttachPad(0xA3, 0xB0 + route);
        const auto virtualPad = zel::Simulator::instance().pad(pad);
        virtualPad->setBusyTimes(0, 0);
        virtualPad->setBulkInterface(route == 0);
        if (!ConnectByUid(0, 0, 0, 0xB0 + route)) {
            std::fprintf(stderr, "no virtual pad\n");
            return 1;
        }
        std::vector<double> times;
        for (int run = 0; run < kRuns; ++run) {
            std::this_thread::sleep_for(std::chrono::milliseconds(650));
            const auto start = std::chrono::steady_clock::now();
            if (setImage(path.c_str()) != 1) {
                std::fprintf(stderr, "setImage failed\n");
                return 1;
            }
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        std::sort(times.begin(), times.end());
        total[route] = times[times.size() / 2] - kPausesMs;
        Disconnect();
        SimulatorDisable();
    }
    std::remove(path.c_str());

    std::printf("setImage, 800 x 480 JPEG on the colour pad (480 x 272), median of %d runs\n",
                kRuns);
    std::printf("  %-44s %8.2f ms\n", "JPEG library decoding alone (baseline)", baseline);
    std::printf("  %-44s %8.2f ms  (%.2f x baseline)\n", "read and decode (loader)", load,
                load / baseline);
    std::printf("  %-44s %8.2f ms  (%.2f x baseline)\n", "fit 800 x 480 to 480 x 272", fitOnly,
                fitOnly / baseline);
    std::printf("  %-44s %8.2f ms  (%.2f x baseline)\n", "1-bit and RGB565 conversion", convert,
                convert / baseline);
    std::printf("  %-44s %8.2f ms  (%.2f x baseline)\n", "picture prepared (the three above)",
                prepare, prepare / baseline);
    const char* routes[2] = {"upload through the bulk pipe", "upload in 252-byte data reports"};
    for (int route = 0; route < 2; ++route) {
        std::printf("  %-44s %8.2f ms\n", routes[route], total[route] - prepare);
        std::printf("  %-44s %8.2f ms  (%.2f x baseline)\n",
                    route == 0 ? "setImage, library work (bulk pipe)"
                               : "setImage, library work (data reports)",
                    total[route], total[route] / baseline);
    }
    std::printf("  %-44s %8.2f ms  (not work: the pad's pauses)\n", "plus fixed pauses", kPausesMs);
    return 0;
}
