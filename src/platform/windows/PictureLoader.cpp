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
// - PNG data is refused without asking OLE: PNG files take the library's own decoder on the
//   file route and are refused on the memory route, whichever formats this system's OLE
//   happens to know.
// - Pictures of more than kMaxDimension pixels in either direction or kMaxPixelBytes of
//   pixels are refused before their pixels are copied.
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

#include "platform/Platform.h"
#include "platform/windows/WinHandle.h"

namespace zel::platform {
namespace {

using windows::ComRef;
using windows::GlobalBlock;
using windows::GlobalLockGuard;

constexpr uint32_t kMaxDimension = 32768;
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 28;

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

bool isPng(const uint8_t* bytes, size_t size) {
    static const uint8_t kSignature[4] = {0x89, 0x50, 0x4E, 0x47};
    return size >= 4 && std::memcmp(bytes, kSignature, 4) == 0;
}

// Steps 1 to 3: the picture object for the bytes, or false.
bool loadPicture(const uint8_t* bytes, size_t size, ComRef<IPicture>& picture) {
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE, size));
    if (block.get() == nullptr) return false;
    {
        GlobalLockGuard lock(block.get());
        if (lock.data() == nullptr) return false;
        std::memcpy(lock.data(), bytes, size);
    }
    ComRef<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.out()))) return false;
    block.release();  // the stream frees it when it is released
    const HRESULT loaded = OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, kIPictureId,
                                          picture.outVoid());
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
    if (width <= 0 || height <= 0 || uint64_t(width) > kMaxDimension ||
        uint64_t(height) > kMaxDimension || uint64_t(width) * uint64_t(height) * 4 > kMaxPixelBytes)
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
        if (bytes == nullptr || size == 0 || size > LONG_MAX || isPng(bytes, size)) return false;
        try {
            ComApartment apartment;
            ComRef<IPicture> picture;
            if (!loadPicture(bytes, size, picture)) return false;
            LoadedPicture loaded;
            if (!readBitmap(picture.get(), loaded)) return false;
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
