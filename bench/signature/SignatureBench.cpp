// How long a 2,000-sample signature takes to write in each of the signature library's formats
// (the pictures at two scales, and their parts: the ink model and the rasterising), beside the
// capture's own duration (2,000 samples at the pad's 8 ms: 16 s). Each case reports
// "of_capture": its time per signature as a share of that duration, and the bytes written.
//
//   build/release/bench/signature/signature_bench
#include <benchmark/benchmark.h>

#include <chrono>

#include "signature/Evidence.h"
#include "signature/InkRasteriser.h"
#include "signature/Renderer.h"
#include "signature/ScriptedInk.h"  // tests/signature
#include "signature/SignatureFormats.h"
#include "signature/StrokeModel.h"
#include "signature/TestKeys.h"

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

// Every format through the library's one export path, as ZELSig_Export writes it.
void exported(benchmark::State& state, int format, double scale) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const ZELSigRenderOptions options = optionsAt(scale, true);
    measure(state, [&] {
        std::vector<uint8_t> bytes;
        if (!zelsig::exportSignature(data, format, options, bytes).isOk())
            state.SkipWithError("export refused");
        return bytes.size();
    });
}

void pngOnBackground(benchmark::State& state) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const ZELSigRenderOptions options = optionsAt(1, false);
    measure(state, [&] { return zelsig::renderPng(data, options).size(); });
}

// The evidence package for one RSA recipient over a 1 MB document, as it is made after a
// capture: the ISO record, the PNG and the metadata, encrypted (and signed by the host).
void evidence(benchmark::State& state, bool hostSigned) {
    const zelsig::SignatureData data = zelsig::test::cursiveSignature(sampleCount);
    const zelsig::test::TestIdentity recipient =
        zelsig::test::makeIdentity(zelsig::test::KeyKind::rsa, "Recipient");
    const zelsig::test::TestIdentity host =
        zelsig::test::makeIdentity(zelsig::test::KeyKind::ec, "Host");
    const std::vector<uint8_t> document(1 << 20, 'd');
    const ZELSigBlob recipients[] = {recipient.certificate()};
    ZELSigEvidenceOptions options{};
    options.document = document.data();
    options.documentSize = document.size();
    options.documentName = "contract.pdf";
    options.recipients = recipients;
    options.recipientCount = 1;
    if (hostSigned) {
        options.signerCertificate = host.certificate();
        options.signerKey = host.key();
    }
    const ZELSigRenderOptions render = optionsAt(1, true);
    measure(state, [&] {
        std::vector<uint8_t> package;
        if (!zelsig::createEvidence(data, options, render, package).isOk())
            state.SkipWithError("evidence refused");
        return package.size();
    });
}

BENCHMARK(inkModel)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(rasterise)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, png, ZELSIG_FORMAT_PNG, 1.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, png_scale4, ZELSIG_FORMAT_PNG, 4.0)->Unit(benchmark::kMillisecond);
BENCHMARK(pngOnBackground)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, svg, ZELSIG_FORMAT_SVG, 1.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, svg_scale4, ZELSIG_FORMAT_SVG, 4.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, csv, ZELSIG_FORMAT_CSV, 1.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, json, ZELSIG_FORMAT_JSON, 1.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(exported, iso, ZELSIG_FORMAT_ISO, 1.0)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(evidence, encrypted, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(evidence, encrypted_and_signed, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
