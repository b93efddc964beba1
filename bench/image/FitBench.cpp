// Fitting a 640 x 480 picture to an 800 x 480 screen: PixelImage::resample (taps worked out
// once per column and row, rows shared among the cores) beside the fitting arithmetic
// written out directly, pixel by pixel. The two results are compared byte for byte before
// anything is timed; at the end the ratio of wall times is printed (multi-threaded work is
// measured by the clock on the wall, not by CPU time).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "image/PixelImage.h"

namespace {

constexpr int32_t kSourceWidth = 640, kSourceHeight = 480;
constexpr int32_t kScreenWidth = 800, kScreenHeight = 480;

// A smooth gradient with noise, like a photograph.
zel::PixelImage sourcePicture() {
    zel::PixelImage image;
    image.imageWidth = kSourceWidth;
    image.imageHeight = kSourceHeight;
    image.pixels.resize(size_t(kSourceWidth) * kSourceHeight);
    std::mt19937 noise(11);
    for (int32_t y = 0; y < kSourceHeight; ++y) {
        for (int32_t x = 0; x < kSourceWidth; ++x) {
            const uint8_t bytes[4] = {uint8_t(x * 255 / kSourceWidth + noise() % 9),
                                      uint8_t(y * 255 / kSourceHeight + noise() % 9),
                                      uint8_t((x + y) / 5 + noise() % 9), 0};
            std::memcpy(&image.pixels[size_t(y) * kSourceWidth + x], bytes, 4);
        }
    }
    return image;
}

// The fitting arithmetic as written: every output pixel on its own, every tap read through
// getPixel with its two kernel weights.
std::vector<uint32_t> directFit(const zel::PixelImage& in, int32_t W, int32_t H) {
    const int32_t w = in.imageWidth, h = in.imageHeight;
    const double sx = double(w) / W, sy = double(h) / H;
    const double scale = sx > sy ? sx : sy;
    const auto fitW = int32_t(w / scale), fitH = int32_t(h / scale);
    const int32_t offX = (W - fitW) / 2, offY = (H - fitH) / 2;
    std::vector<uint32_t> out(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y) {
        for (int32_t x = 0; x < W; ++x) {
            int32_t lx = 0, ly = 0;
            if (offX <= x && x <= offX + fitW && offY <= y && y <= offY + fitH) {
                lx = x - offX;
                ly = y - offY;
            }
            const double srcX = lx * scale, srcY = ly * scale;
            const double fx = srcX - std::floor(srcX), fy = srcY - std::floor(srcY);
            const auto ix = int32_t(srcX), iy = int32_t(srcY);
            double acc[4] = {0, 0, 0, 0};
            for (int m = -1; m <= 2; ++m) {
                for (int n = -1; n <= 2; ++n) {
                    uint32_t pixel = 0;
                    in.getPixel(std::clamp(ix + n, 0, w - 1), std::clamp(iy + m, 0, h - 1), pixel);
                    uint8_t b[4];
                    std::memcpy(b, &pixel, 4);
                    const double wx = zel::bSplineWeight(n - fx), wy = zel::bSplineWeight(m - fy);
                    for (int c = 0; c < 4; ++c)
                        acc[c] += (b[c] * wx) * wy;
                }
            }
            uint8_t bytes[4];
            for (int c = 0; c < 4; ++c)
                bytes[c] = uint8_t(int32_t(acc[c] + double(0.000001f)) & 0xFF);
            std::memcpy(&out[size_t(y) * W + x], bytes, 4);
        }
    }
    return out;
}

void BM_Fit_direct(benchmark::State& state) {
    const zel::PixelImage source = sourcePicture();
    for (auto _ : state) {
        std::vector<uint32_t> out = directFit(source, kScreenWidth, kScreenHeight);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_Fit_library(benchmark::State& state) {
    const zel::PixelImage source = sourcePicture();
    for (auto _ : state) {
        state.PauseTiming();
        zel::PixelImage image = source;
        state.ResumeTiming();
        image.resample(kScreenWidth, kScreenHeight);
        benchmark::DoNotOptimize(image.pixels.data());
    }
}

BENCHMARK(BM_Fit_direct)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fit_library)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the table as usual, then library / direct from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs, or the median when repeated.
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            times_[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto direct = times_.find("BM_Fit_direct");
        const auto library = times_.find("BM_Fit_library");
        if (direct != times_.end() && library != times_.end() && direct->second > 0)
            GetOutputStream() << "\nratio of wall times (library / direct; target 0.25 or below): "
                              << library->second / direct->second << "\n";
    }

  private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    const zel::PixelImage source = sourcePicture();
    zel::PixelImage fitted = source;
    fitted.resample(kScreenWidth, kScreenHeight);
    if (fitted.pixels != directFit(source, kScreenWidth, kScreenHeight)) {
        std::fprintf(stderr, "resample differs from the direct arithmetic\n");
        return 1;
    }
    std::printf("resample output is byte-identical to the direct arithmetic\n");
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
