// Where the core finds the operating system's side of the seam. Each accessor returns the one
// process-wide implementation for this platform (src/platform/<os>/).
#pragma once

#include "platform/BulkPipe.h"
#include "platform/HidSystem.h"
#include "platform/PictureLoader.h"
#include "platform/SerialPort.h"

namespace zel::platform {

// HID access and the bulk pipe: the selected backend (the operating system's, unless the
// virtual pad was selected).
HidSystem& hidSystem();
BulkPipeSystem& bulkPipeSystem();
SerialSystem& serialSystem();
PictureLoader& pictureLoader();

// The operating system's own HID access and bulk pipe, whatever backend is selected.
HidSystem& nativeHidSystem();
BulkPipeSystem& nativeBulkPipeSystem();

// A selection of HID backend: nulls stand for the operating system's.
struct HidBackend {
    HidSystem* hid = nullptr;
    BulkPipeSystem* bulk = nullptr;
};

// Routes HID discovery, HID I/O and the bulk pipe to another backend; nulls restore the
// operating system's. The backend must outlive every transport opened through it. Returns
// the selection it replaced.
HidBackend selectHidBackend(HidSystem* hid, BulkPipeSystem* bulk);

}  // namespace zel::platform
