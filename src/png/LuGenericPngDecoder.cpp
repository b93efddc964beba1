#include "png/LuGenericPngDecoder.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "png/LuPngFileSource.h"
#include "png/LuPngMemorySource.h"
#include "png/LuZlibDecoder.h"
#include "png/PngDiagnostics.h"

namespace zel {

namespace {

constexpr uint32_t kIdat = 0x49444154;
constexpr uint32_t kIhdr = 0x49484452;
constexpr uint32_t kPlte = 0x504C5445;
constexpr uint32_t kGama = 0x67414D41;
constexpr uint32_t kTrns = 0x74524E53;
constexpr uint32_t kIend = 0x49454E44;

constexpr unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

uint32_t readBig32(const unsigned char* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
}

}  // namespace

LuGenericPngDecoder::LuGenericPngDecoder() {
    Initialize();
}

void LuGenericPngDecoder::Initialize() {
    gamma = kDefaultGamma;
    for (uint32_t& key : transparency.key)
        key = LuPngTransparency::kNoKey;
}

int LuGenericPngDecoder::PrepareOutput() {
    return 1;
}

int LuGenericPngDecoder::OutputByte(unsigned char /*byte*/) {
    return 1;
}

int LuGenericPngDecoder::EndOutput() {
    return 1;
}

int LuGenericPngDecoder::OutputBytes(const unsigned char* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (OutputByte(bytes[i]) != 1) return 0;
    return 1;
}

int LuGenericPngDecoder::Decode(const wchar_t* path) {
    LuPngFileSource file(path);
    if (!file.IsOpen()) return -1;
    return DecodeSource(file);
}

int LuGenericPngDecoder::Decode(const std::filesystem::path& path) {
    LuPngFileSource file(path);
    if (!file.IsOpen()) return -1;
    return DecodeSource(file);
}

int LuGenericPngDecoder::DecodeMemory(const unsigned char* data, size_t size) {
    if (data == nullptr) size = 0;
    LuPngMemorySource memory(data, size);
    return DecodeSource(memory);
}

int LuGenericPngDecoder::CheckSignature(LuPngSource& file) {
    unsigned char bytes[8];
    if (file.Read(bytes, sizeof bytes) != sizeof bytes ||
        std::memcmp(bytes, kSignature, sizeof bytes) != 0) {
        png::diagnostic("The file does not have PNG signature.\n");
        return 0;
    }
    return 1;
}

int LuGenericPngDecoder::ReadChunk(LuPngSource& file, Chunk& chunk) {
    chunk.data.reset();
    unsigned char word[4];
    if (file.Read(word, 4) != 4) return 0;
    chunk.length = readBig32(word);
    if (file.Read(word, 4) != 4) return 0;
    chunk.type = readBig32(word);
    png::diagnostic("Chunk name=%c%c%c%c\n", word[0], word[1], word[2], word[3]);
    if (chunk.length != 0) {
        // The data cannot be complete if the file is shorter: stop without allocating for a
        // length that only a damaged file declares. Nothing has been read beyond the start.
        if (chunk.length > file.Size()) return 0;
        chunk.data.reset(new unsigned char[chunk.length]);
        if (file.Read(chunk.data.get(), chunk.length) != chunk.length) {
            chunk.data.reset();
            return 0;
        }
    }
    if (file.Read(word, 4) != 4) {
        chunk.data.reset();
        return 0;
    }
    chunk.crc = readBig32(word);
    return 1;
}

void LuGenericPngDecoder::DecodeHeader(const unsigned char* data) {
    width = readBig32(data);
    height = readBig32(data + 4);
    bitDepth = data[8];
    colorType = data[9];
    compressionMethod = data[10];
    filterMethod = data[11];
    interlaceMethod = data[12];
    png::diagnostic("Width=%d Height=%d\n", static_cast<int>(width), static_cast<int>(height));
    png::diagnostic("bitDepth=%d\n", static_cast<int>(bitDepth));
    png::diagnostic("colorType=%d\n", static_cast<int>(colorType));
    png::diagnostic("compressionMethod=%d\n", static_cast<int>(compressionMethod));
    png::diagnostic("filterMethod=%d\n", static_cast<int>(filterMethod));
    png::diagnostic("interlaceMethod=%d\n", static_cast<int>(interlaceMethod));
}

int LuGenericPngDecoder::DecodeSource(LuPngSource& file) {
    const uint64_t fileSize = file.Size();
    if (CheckSignature(file) != 1) return -1;
    if (fileSize > kMaxFileSize) {
        png::diagnostic("The file is too large.\n");
        return -1;
    }
    std::unique_ptr<unsigned char[]> idat;
    uint32_t idatLength = 0;
    try {
        // All image data together can never be larger than the file.
        idat.reset(new unsigned char[fileSize]);
        Chunk chunk;
        while (ReadChunk(file, chunk) == 1 && chunk.type != kIend) {
            if (chunk.length == 0) continue;
            switch (chunk.type) {
                case kIdat:
                    // A file that grew while being read cannot overflow the buffer.
                    if (chunk.length > fileSize - idatLength) break;
                    std::memcpy(idat.get() + idatLength, chunk.data.get(), chunk.length);
                    idatLength += chunk.length;
                    break;
                case kIhdr:
                    if (chunk.length >= 13) DecodeHeader(chunk.data.get());
                    break;
                case kPlte:
                    if (palette.Set(chunk.length, chunk.data.get()) != 1) return -1;
                    break;
                case kGama:
                    if (chunk.length >= 4) {
                        gamma = readBig32(chunk.data.get());
                        png::diagnostic("Gamma %d (default=%d)\n", static_cast<int>(gamma),
                                        static_cast<int>(kDefaultGamma));
                    }
                    break;
                case kTrns:
                    transparency.Set(chunk.length, chunk.data.get(), colorType);
                    break;
                default:
                    break;
            }
        }
        if (PrepareOutput() != 1) return -1;
    } catch (const std::bad_alloc&) {
        png::diagnostic("Not enough memory.\n");
        return -1;
    }
    LuZlibDecoder inflate(this);
    inflate.Decode(idatLength, idat.get());
    EndOutput();
    return 1;
}

}  // namespace zel
