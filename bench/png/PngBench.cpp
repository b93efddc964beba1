// Decode speed of the PNG decoder side by side with libpng, and of inflate alone side by side
// with zlib, on images and streams generated here. At the end the ratio ours / baseline is
// printed per case (below 1.0: faster than the baseline).
//
//   build/png/bench/png/png_bench
//
// The decoder's console lines go to /dev/null; the results go to standard error.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "png/LuRawPngDecoder.h"
#include "png/LuZlibDecoder.h"
#include "png/PngDiagnostics.h"

namespace {

using Bytes = std::vector<unsigned char>;

// ---- Test images ----

struct Image {
    std::string name;
    Bytes file;
    uint32_t width;
    uint32_t height;
};

void writeToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void noFlush(png_structp) {}

// Encodes rows with libpng's default filter choice and compression level.
Bytes encode(uint32_t width, uint32_t height, int colorType, int bitDepth, int interlace,
             const Bytes& rows, const Bytes& palette = {}) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, writeToVector, noFlush);
    png_set_IHDR(png, info, width, height, bitDepth, colorType, interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) {
        std::vector<png_color> entries(palette.size() / 3);
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i] = {palette[i * 3], palette[i * 3 + 1], palette[i * 3 + 2]};
        png_set_PLTE(png, info, entries.data(), static_cast<int>(entries.size()));
    }
    png_write_info(png, info);
    const size_t rowBytes = rows.size() / height;
    std::vector<png_bytep> pointers(height);
    for (uint32_t y = 0; y < height; ++y)
        pointers[y] = const_cast<png_bytep>(rows.data() + y * rowBytes);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A smooth picture with fine noise, like a photograph.
unsigned char photo(uint32_t x, uint32_t y, int channel, std::mt19937& noise) {
    const double v = 128 + 70 * std::sin(x / (31.0 + channel * 7)) * std::cos(y / 47.0) +
                     30 * std::sin((x + y) / 113.0 + channel);
    const int n = static_cast<int>(noise() % 9) - 4;
    return static_cast<unsigned char>(std::clamp(static_cast<int>(v) + n, 0, 255));
}

std::vector<Image> makeImages() {
    std::vector<Image> images;
    std::mt19937 noise(42);
    {
        const uint32_t w = 2048, h = 1536;
        Bytes rows(size_t{w} * h * 3);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    rows[(size_t{y} * w + x) * 3 + c] = photo(x, y, c, noise);
        images.push_back(
            {"rgb8_photo_2048x1536", encode(w, h, PNG_COLOR_TYPE_RGB, 8, 0, rows), w, h});
        images.push_back(
            {"rgb8_adam7_2048x1536", encode(w, h, PNG_COLOR_TYPE_RGB, 8, 1, rows), w, h});
    }
    {
        const uint32_t w = 1024, h = 1024;
        Bytes rows(size_t{w} * h * 4);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c)
                    rows[(size_t{y} * w + x) * 4 + c] = photo(x, y, c, noise);
                rows[(size_t{y} * w + x) * 4 + 3] = static_cast<unsigned char>((x + y) / 8);
            }
        images.push_back(
            {"rgba8_1024x1024", encode(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, 0, rows), w, h});
    }
    {
        const uint32_t w = 1024, h = 1024;
        Bytes palette(256 * 3);
        for (size_t i = 0; i < palette.size(); ++i)
            palette[i] = static_cast<unsigned char>(i * 7);
        Bytes rows(size_t{w} * h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                rows[size_t{y} * w + x] = photo(x, y, 0, noise);
        images.push_back({"indexed8_1024x1024",
                          encode(w, h, PNG_COLOR_TYPE_PALETTE, 8, 0, rows, palette), w, h});
    }
    {
        const uint32_t w = 2048, h = 2048;
        Bytes rows(size_t{w / 8} * h, 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                if (photo(x, y, 1, noise) > 128 + static_cast<int>(noise() % 32) - 16)
                    rows[size_t{y} * (w / 8) + x / 8] |=
                        static_cast<unsigned char>(0x80 >> (x % 8));
        images.push_back({"grey1_2048x2048", encode(w, h, PNG_COLOR_TYPE_GRAY, 1, 0, rows), w, h});
    }
    return images;
}

const std::vector<Image>& images() {
    static const std::vector<Image> all = makeImages();
    return all;
}

// ---- Decoders ----

struct MemoryReader {
    const Bytes* file;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->position + count > reader->file->size()) png_error(png, "short");
    std::memcpy(out, reader->file->data() + reader->position, count);
    reader->position += count;
}

// libpng to the same 32-bit blue, green, red, alpha layout as the decoder, into a buffer
// allocated per image as the decoder does.
bool libpngDecode(const Bytes& file, Bytes& pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&file, 0};
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    pixels = Bytes(size_t{w} * h * 4);
    rows.resize(h);
    for (uint32_t y = 0; y < h; ++y)
        rows[y] = pixels.data() + size_t{y} * w * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void BM_Ours(benchmark::State& state, const Image* image) {
    for (auto _ : state) {
        zel::LuRawPngDecoder decoder;
        decoder.Initialize();
        if (decoder.DecodeMemory(image->file.data(), image->file.size()) != 1)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(decoder.pixelBuffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * image->width * image->height * 4);
}

void BM_Libpng(benchmark::State& state, const Image* image) {
    Bytes pixels;
    for (auto _ : state) {
        if (!libpngDecode(image->file, pixels)) state.SkipWithError("libpng failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * image->width * image->height * 4);
}

// ---- Inflate alone ----

struct Stream {
    std::string name;
    Bytes compressed;
    size_t size;
};

const std::vector<Stream>& streams() {
    static const std::vector<Stream> all = [] {
        std::vector<Stream> out;
        std::mt19937 noise(7);
        Bytes photoBytes(size_t{2048} * 1536 * 3);
        for (size_t i = 0; i < photoBytes.size(); ++i)
            photoBytes[i] = photo(static_cast<uint32_t>(i / 3 % 2048),
                                  static_cast<uint32_t>(i / 3 / 2048), int(i % 3), noise);
        Bytes text;
        const char* words[] = {"pen ", "pad ", "signature ", "screen ", "the ", "ink\n", "of "};
        while (text.size() < (8u << 20)) {
            const char* word = words[noise() % 7];
            text.insert(text.end(), word, word + std::strlen(word));
        }
        for (auto& [name, data] : {std::pair<std::string, Bytes*>{"photo_bytes", &photoBytes},
                                   std::pair<std::string, Bytes*>{"text", &text}}) {
            uLongf length = compressBound(data->size());
            Bytes compressed(length);
            compress2(compressed.data(), &length, data->data(), data->size(), 6);
            compressed.resize(length);
            out.push_back({name, compressed, data->size()});
        }
        return out;
    }();
    return all;
}

// Copies runs into a buffer of the known size, as zlib writes into its output buffer.
class BufferReceiver : public zel::LuGenericPngDecoder {
  public:
    explicit BufferReceiver(unsigned char* out) : out_(out) {}
    int OutputBytes(const unsigned char* bytes, uint32_t count) override {
        std::memcpy(out_, bytes, count);
        out_ += count;
        return 1;
    }

  private:
    unsigned char* out_;
};

void BM_OursInflate(benchmark::State& state, const Stream* stream) {
    Bytes out(stream->size);
    for (auto _ : state) {
        BufferReceiver receiver(out.data());
        zel::LuZlibDecoder inflate(&receiver);
        if (inflate.Decode(static_cast<uint32_t>(stream->compressed.size()),
                           stream->compressed.data()) != 1)
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream->size);
}

void BM_ZlibInflate(benchmark::State& state, const Stream* stream) {
    Bytes out(stream->size);
    for (auto _ : state) {
        uLongf length = out.size();
        if (uncompress(out.data(), &length, stream->compressed.data(), stream->compressed.size()) !=
            Z_OK)
            state.SkipWithError("zlib failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream->size);
}

// ---- Ratios ----

// Prints the table as usual, then ours / baseline per case from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs, or the median when repeated.
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const std::string name = run.run_name.function_name;
            const auto slash = name.find('/');
            if (slash == std::string::npos) continue;
            // CPU time: the machine is shared, and other processes stretch wall time.
            times_[name.substr(slash + 1)][name.substr(0, slash)] = run.GetAdjustedCPUTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        out << "\nratio of CPU times (ours / baseline; below 1.0 is faster)\n";
        for (const auto& entry : times_) {
            // A lambda cannot capture a structured binding before C++20.
            const std::string& item = entry.first;
            const auto& byKind = entry.second;
            const auto pick = [&](const char* kind) {
                const auto found = byKind.find(kind);
                return found == byKind.end() ? 0.0 : found->second;
            };
            double ours = pick("BM_Ours"), base = pick("BM_Libpng");
            const char* against = "libpng";
            if (ours == 0) {
                ours = pick("BM_OursInflate");
                base = pick("BM_ZlibInflate");
                against = "zlib";
            }
            if (ours > 0 && base > 0)
                out << "  " << item << " vs " << against << ": " << ours / base << "\n";
        }
    }

  private:
    std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    // The decoder's diagnostic lines are neither measured nor wanted in the output.
    zel::png::setDiagnosticOutput(zel::png::DiagnosticOutput::none, nullptr, nullptr);
    for (const Image& image : images()) {
        benchmark::RegisterBenchmark(("BM_Ours/" + image.name).c_str(), BM_Ours, &image)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_Libpng/" + image.name).c_str(), BM_Libpng, &image)
            ->Unit(benchmark::kMillisecond);
    }
    for (const Stream& stream : streams()) {
        benchmark::RegisterBenchmark(("BM_OursInflate/" + stream.name).c_str(), BM_OursInflate,
                                     &stream)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_ZlibInflate/" + stream.name).c_str(), BM_ZlibInflate,
                                     &stream)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
