// How long a 2,000-sample signature takes to draw and encode in each of the component's
// picture formats, beside the capture's own duration (2,000 samples at the pad's 8 ms: 16 s).
// Each case reports "of_capture": its time per signature as a share of that duration.
//
//   build/release/bench/signature/signature_bench
#include <benchmark/benchmark.h>

#include <chrono>

#include "signature/InkRasteriser.h"
#include "signature/Renderer.h"
#include "signature/ScriptedInk.h"  // tests/signature
#include "signature/StrokeModel.h"

namespace {

constexpr size_t sampleCount = 2000;
const double captureMs = sampleCount * zelsig::test::sampleIntervalMs;

ZELSigRenderOptions optionsAt(double scale, bool transparent) {
    ZELSigRenderOptions options{};
    options.scale = scale;
    options.margin = 8;
    options.minWidth = 0.5;
    options.maxWidth = 2.5;
    options.inkColour = 0x1A237E;
    options.backgroundColour = 0xFFFFFF;
    options.transparent = transparent ? 1 : 0;
    return options;
}

// Runs `work` per iteration and reports its mean time as a share of the capture's duration.
template <class Work>
void measure(benchmark::State& state, Work work) {
    using Clock = std::chrono::steady_clock;
    double totalMs = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        bytes = work();
        totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    state.counters["of_capture"] = totalMs / double(state.iterations()) / captureMs;
    state.counters["bytes"] = double(bytes);
}

void inkModel(benchmark::State& state) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const ZELSigRenderOptions options = optionsAt(double(state.range(0)), true);
    measure(state, [&] {
        const zelsig::InkModel model = zelsig::buildInkModel(data, options);
        benchmark::DoNotOptimize(model.strokes.data());
        return size_t(0);
    });
}

void rasterise(benchmark::State& state) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const zelsig::InkModel model =
        zelsig::buildInkModel(data, optionsAt(double(state.range(0)), true));
    measure(state, [&] {
        const std::vector<uint8_t> mask = zelsig::rasteriseInk(model);
        benchmark::DoNotOptimize(mask.data());
        return mask.size();
    });
}

void png(benchmark::State& state) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const ZELSigRenderOptions options = optionsAt(double(state.range(0)), state.range(1) != 0);
    measure(state, [&] { return zelsig::renderPng(data, options).size(); });
}

void svg(benchmark::State& state) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const ZELSigRenderOptions options = optionsAt(double(state.range(0)), true);
    measure(state, [&] { return zelsig::renderSvg(data, options).size(); });
}

BENCHMARK(inkModel)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(rasterise)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(png)
    ->ArgNames({"scale", "transparent"})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({4, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(svg)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
