#include "ImageTestSupport.h"

#include <zlib.h>

#include <cstdlib>
#include <fstream>

namespace zel::test {

void put16(Bytes& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void put32(Bytes& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

namespace {

void putBig32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

// RLE runs of one index each, one line per row, bottom-up, then end of bitmap. RLE4 packs
// the index twice into the value byte.
Bytes rleRows(const IndexedPicture& p, bool four) {
    Bytes out;
    for (int y = p.height - 1; y >= 0; --y) {
        int x = 0;
        while (x < p.width) {
            const uint8_t index = p.index[size_t(y) * p.width + x];
            int run = 1;
            while (x + run < p.width && p.index[size_t(y) * p.width + x + run] == index)
                ++run;
            out.push_back(uint8_t(run));
            out.push_back(four ? uint8_t(index << 4 | index) : index);
            x += run;
        }
        out.push_back(0);
        out.push_back(y == 0 ? 1 : 0);  // the last line ends the bitmap
    }
    return out;
}

}  // namespace

Bytes makeBmp(const IndexedPicture& p, BmpKind kind) {
    int bits = 24;
    uint32_t compression = 0;
    std::vector<uint32_t> masks;
    switch (kind) {
        case BmpKind::kPal1:
            bits = 1;
            break;
        case BmpKind::kPal4:
            bits = 4;
            break;
        case BmpKind::kPal8:
        case BmpKind::kCore8:
            bits = 8;
            break;
        case BmpKind::kRgb555:
            bits = 16;
            break;
        case BmpKind::kBitFields565:
            bits = 16;
            compression = 3;
            masks = {0xF800, 0x07E0, 0x001F};
            break;
        case BmpKind::kRgb24:
        case BmpKind::kTopDown24:
            bits = 24;
            break;
        case BmpKind::kRgb32:
            bits = 32;
            break;
        case BmpKind::kBitFields32:
            bits = 32;
            compression = 3;
            masks = {0x0000FF00, 0x00FF0000, 0xFF000000};
            break;
        case BmpKind::kRle8:
            bits = 8;
            compression = 1;
            break;
        case BmpKind::kRle4:
            bits = 4;
            compression = 2;
            break;
    }
    const bool core = kind == BmpKind::kCore8;
    const bool topDown = kind == BmpKind::kTopDown24;
    const bool paletted = bits <= 8;

    Bytes header;
    if (core) {
        put32(header, 12);
        put16(header, uint32_t(p.width));
        put16(header, uint32_t(p.height));
        put16(header, 1);
        put16(header, uint32_t(bits));
    } else {
        put32(header, 40);
        put32(header, uint32_t(p.width));
        put32(header, uint32_t(topDown ? -p.height : p.height));
        put16(header, 1);
        put16(header, uint32_t(bits));
        put32(header, compression);
        put32(header, 0);  // image size
        put32(header, 2835);
        put32(header, 2835);
        put32(header, paletted ? uint32_t(p.colours.size()) : 0);
        put32(header, 0);
        for (uint32_t mask : masks)
            put32(header, mask);
    }
    if (paletted) {
        for (const Rgb& c : p.colours) {
            header.push_back(c.b);
            header.push_back(c.g);
            header.push_back(c.r);
            if (!core) header.push_back(0);
        }
    }

    Bytes data;
    if (compression == 1 || compression == 2) {
        data = rleRows(p, compression == 2);
    } else {
        const size_t stride = ((size_t(p.width) * bits + 31) / 32) * 4;
        for (int r = 0; r < p.height; ++r) {
            const int y = topDown ? r : p.height - 1 - r;
            Bytes row(stride, 0);
            for (int x = 0; x < p.width; ++x) {
                const uint8_t i = p.index[size_t(y) * p.width + x];
                const Rgb c = p.colours[i];
                uint32_t v = 0;
                switch (bits) {
                    case 1:
                        row[x / 8] |= uint8_t(i << (7 - x % 8));
                        break;
                    case 4:
                        row[x / 2] |= uint8_t(x % 2 ? i : i << 4);
                        break;
                    case 8:
                        row[x] = i;
                        break;
                    case 16:
                        v = compression == 3 ? (c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3
                                             : (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
                        row[2 * x] = uint8_t(v);
                        row[2 * x + 1] = uint8_t(v >> 8);
                        break;
                    case 24:
                        row[3 * x] = c.b;
                        row[3 * x + 1] = c.g;
                        row[3 * x + 2] = c.r;
                        break;
                    default:
                        v = compression == 3
                                ? uint32_t(c.r) << 8 | uint32_t(c.g) << 16 | uint32_t(c.b) << 24
                                : uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
                        for (int k = 0; k < 4; ++k)
                            row[4 * x + k] = uint8_t(v >> (8 * k));
                        break;
                }
            }
            data.insert(data.end(), row.begin(), row.end());
        }
    }

    Bytes file = {'B', 'M'};
    const uint32_t offset = uint32_t(14 + header.size());
    put32(file, uint32_t(offset + data.size()));
    put32(file, 0);
    put32(file, offset);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

Bytes makePng(int width, int height, const Bytes& rgb) {
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, const Bytes& body) {
        putBig32(out, uint32_t(body.size()));
        Bytes typed(type, type + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        out.insert(out.end(), typed.begin(), typed.end());
        putBig32(out, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
    };
    Bytes ihdr;
    putBig32(ihdr, uint32_t(width));
    putBig32(ihdr, uint32_t(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * width * 3, rgb.begin() + (y + 1) * width * 3);
    }
    uLongf size = compressBound(uLong(raw.size()));
    Bytes packed(size);
    compress2(packed.data(), &size, raw.data(), uLong(raw.size()), 9);
    packed.resize(size);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return out;
}

std::string writeTempFile(const std::string& name, const Bytes& bytes) {
    const char* dir = std::getenv("ZEL_TEST_TMP");
    const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

}  // namespace zel::test
