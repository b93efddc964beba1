// The Windows picture loader: OLE's picture loading (BMP, JPEG, GIF and the other formats
// OleLoadPicture knows), read out through GDI as a 32-bit top-down device-independent bitmap.
//
// Steps: the bytes go into a movable global block; a stream is created on it that owns and
// frees it; OleLoadPicture reads the picture from the stream, which is released at once; only
// bitmap pictures are taken (icons and metafiles are refused); the bitmap is selected into a
// memory device context for its size and deselected again before GetDIBits copies its rows
// into a movable global buffer. Every object is released on every path by its owner below,
// in the reverse order of creation.
//
// Choices where the platform leaves room:
// - Only BMP, JPEG and GIF files whose header holds together (PictureHeader.h) reach OLE, the
//   checks the Linux loader makes too: a file cut short, one whose header claims more than its
//   data holds, or a picture above the size limits is refused at once instead of being decoded
//   by a system decoder that fills in what is missing (or allocates for a claimed size first).
//   PNG data is refused without asking OLE: PNG files take the library's own decoder on the
//   file route and are refused on the memory route, whichever formats this system's OLE
//   happens to know; so are the icons and metafiles OLE would load but not as bitmaps.
// - A GIF whose first frame reaches past its logical screen goes to OLE with the screen grown
//   to the frame's extent, so that no decoder cuts the frame to the screen.
// - A BMP or JPEG bitmap whose size differs from what its header says is refused.
// - Pictures of more than kMaxPictureDimension pixels in either direction or
//   kMaxPicturePixelBytes of pixels are refused before their pixels are copied.
// - OLE may decode through COM objects, so the calling thread is given a COM apartment for
//   the call when it has none; an apartment the host set up is used as it is.
#include <windows.h>
// OLE's picture interfaces need windows.h first.
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "platform/PictureHeader.h"
#include "platform/Platform.h"
#include "platform/windows/WinHandle.h"

namespace zel::platform {
namespace {

using windows::ComRef;
using windows::GlobalBlock;
using windows::GlobalLockGuard;

// {7BF80980-BF32-101A-8BBB-00AA00300CAB}
constexpr IID kIPictureId = {
    0x7BF80980, 0xBF32, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};

class ComApartment {
  public:
    ComApartment() {
        const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        entered_ = result == S_OK || result == S_FALSE;
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (entered_) CoUninitialize();
    }

  private:
    bool entered_;
};

// A memory device context; gives back the object it had selected before it is deleted.
class MemoryDc {
  public:
    MemoryDc() : dc_(CreateCompatibleDC(nullptr)) {}
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    ~MemoryDc() {
        if (dc_ == nullptr) return;
        deselect();
        DeleteDC(dc_);
    }
    HDC get() const { return dc_; }
    void select(HGDIOBJ object) {
        const HGDIOBJ previous = SelectObject(dc_, object);
        if (previous != nullptr && previous != HGDI_ERROR && previous_ == nullptr)
            previous_ = previous;
    }
    void deselect() {
        if (previous_ != nullptr) SelectObject(dc_, previous_);
        previous_ = nullptr;
    }

  private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

uint32_t littleEndian16(const uint8_t* bytes) {
    return bytes[0] | (uint32_t{bytes[1]} << 8);
}

// The GIF's logical screen (bytes 6 to 9) grown to the picture's size, in `copy`; false when
// the screen already covers the first frame and the file goes to OLE as it is.
bool growGifScreen(const uint8_t* bytes, size_t size, const PictureHeader& header,
                   std::vector<uint8_t>& copy) {
    if (littleEndian16(bytes + 6) >= header.width && littleEndian16(bytes + 8) >= header.height)
        return false;
    copy.assign(bytes, bytes + size);
    copy[6] = static_cast<uint8_t>(header.width), copy[7] = static_cast<uint8_t>(header.width >> 8);
    copy[8] = static_cast<uint8_t>(header.height);
    copy[9] = static_cast<uint8_t>(header.height >> 8);
    return true;
}

// Zero bytes the stream carries after the picture's own. A BMP's colour table may hold fewer
// entries than its bit depth allows (the pixels start where the file header says), but GDI
// reads the full table the header implies: up to 256 four-byte entries and the colour masks
// after a header of at most 124 bytes. Without the zeros that read runs past the copy OLE
// makes of the stream, and crashes wherever that copy happens to end at unmapped memory.
// The formats OLE loads all end on their own terms, so trailing zeros change no picture.
constexpr size_t kStreamSlack = 2048;

// Steps 1 to 3: the picture object for the bytes, or false.
bool loadPicture(const uint8_t* bytes, size_t size, ComRef<IPicture>& picture) {
    if (size > LONG_MAX - kStreamSlack) return false;
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + kStreamSlack));
    if (block.get() == nullptr) return false;
    {
        GlobalLockGuard lock(block.get());
        if (lock.data() == nullptr) return false;
        std::memcpy(lock.data(), bytes, size);
    }
    ComRef<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.out()))) return false;
    block.release();  // the stream frees it when it is released
    const HRESULT loaded = OleLoadPicture(stream.get(), static_cast<LONG>(size + kStreamSlack),
                                          FALSE, kIPictureId, picture.outVoid());
    stream.reset();
    return SUCCEEDED(loaded) && picture.get() != nullptr;
}

// Steps 4 to 9: the bitmap's pixels as 32-bit top-down rows.
bool readBitmap(IPicture* picture, LoadedPicture& out) {
    SHORT type = PICTYPE_UNINITIALIZED;
    if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP) return false;
    OLE_HANDLE handle = 0;
    if (FAILED(picture->get_Handle(&handle))) return false;
    const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));

    MemoryDc dc;
    if (dc.get() == nullptr) return false;
    dc.select(bitmap);
    BITMAP description{};
    if (GetObjectW(bitmap, sizeof description, &description) != sizeof description) return false;
    const LONG width = description.bmWidth;
    const LONG height = description.bmHeight;
    if (width <= 0 || height <= 0 || uint64_t(width) > kMaxPictureDimension ||
        uint64_t(height) > kMaxPictureDimension ||
        uint64_t(width) * uint64_t(height) * 4 > kMaxPicturePixelBytes)
        return false;

    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    // GDI does not read the bits of a bitmap that is selected into a device context.
    dc.deselect();

    const size_t byteCount = size_t(width) * size_t(height) * 4;
    GlobalBlock buffer(GlobalAlloc(GMEM_MOVEABLE, byteCount));
    if (buffer.get() == nullptr) return false;
    GlobalLockGuard lock(buffer.get());
    if (lock.data() == nullptr) return false;
    if (GetDIBits(dc.get(), bitmap, 0, static_cast<UINT>(height), lock.data(), &format,
                  DIB_RGB_COLORS) != height)
        return false;
    const auto* pixels = static_cast<const uint8_t*>(lock.data());
    out.pixels.assign(pixels, pixels + byteCount);
    out.width = uint32_t(width);
    out.height = uint32_t(height);
    return true;
}

class WindowsPictureLoader final : public PictureLoader {
  public:
    bool load(const uint8_t* bytes, size_t size, LoadedPicture& out) override {
        PictureHeader header;
        if (bytes == nullptr || size == 0 || size > LONG_MAX ||
            !readPictureHeader(bytes, size, header))
            return false;
        try {
            std::vector<uint8_t> grown;
            if (header.format == PictureFormat::Gif && growGifScreen(bytes, size, header, grown))
                bytes = grown.data();
            ComApartment apartment;
            ComRef<IPicture> picture;
            if (!loadPicture(bytes, size, picture)) return false;
            LoadedPicture loaded;
            if (!readBitmap(picture.get(), loaded)) return false;
            if (header.format != PictureFormat::Gif &&
                (loaded.width != header.width || loaded.height != header.height))
                return false;
            out = std::move(loaded);
            return true;
        } catch (const std::bad_alloc&) {
            return false;  // a picture too large for the memory left is refused
        }
    }
};

}  // namespace

PictureLoader& pictureLoader() {
    static WindowsPictureLoader loader;
    return loader;
}

}  // namespace zel::platform
