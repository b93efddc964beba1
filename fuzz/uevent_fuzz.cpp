// A HID device's uevent text as sysfs gives it, arbitrary bytes: the vendor and product the
// device watcher and enumeration read from HID_ID.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/HidrawSysfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string uevent(reinterpret_cast<const char*>(data), size);
    uint16_t vendor = 0, product = 0;
    if (zel::platform::parseHidId(uevent, vendor, product) &&
        uevent.find("HID_ID=") == std::string::npos)
        __builtin_trap();
    return 0;
}
