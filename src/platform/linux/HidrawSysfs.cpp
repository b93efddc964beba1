#include "platform/linux/HidrawSysfs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zel::platform {
namespace {

namespace fs = std::filesystem;

// A uevent file is a few hundred bytes; more is not a uevent.
constexpr std::streamsize maxUeventLength = 64 * 1024;

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::string text;
    char chunk[4096];
    while (in && static_cast<std::streamsize>(text.size()) < maxUeventLength) {
        in.read(chunk, sizeof chunk);
        text.append(chunk, static_cast<size_t>(in.gcount()));
    }
    return text;
}

// The USB device above a HID device node: its parent, or for an interface of a composite
// device (a node whose name holds ':') the parent's parent. Only USB devices qualify (they
// have busnum and devnum); anything else gives an empty ID.
std::string owningUsbDevice(const fs::path& hidDeviceNode) {
    std::error_code error;
    fs::path parent = fs::canonical(hidDeviceNode, error).parent_path();
    if (error) return {};
    if (parent.filename().string().find(':') != std::string::npos) parent = parent.parent_path();
    if (!fs::exists(parent / "busnum", error) || !fs::exists(parent / "devnum", error)) return {};
    return parent.string();
}

}  // namespace

// HID_ID=0003:00005A45:000000A1 → vendor 0x5A45, product 0xA1.
bool parseHidId(const std::string& uevent, uint16_t& vendor, uint16_t& product) {
    const std::string key = "HID_ID=";
    size_t start = uevent.find(key);
    if (start == std::string::npos) return false;
    unsigned bus = 0, vendorValue = 0, productValue = 0;
    if (std::sscanf(uevent.c_str() + start + key.size(), "%x:%x:%x", &bus, &vendorValue,
                    &productValue) != 3 ||
        vendorValue > 0xFFFF || productValue > 0xFFFF)
        return false;
    vendor = static_cast<uint16_t>(vendorValue);
    product = static_cast<uint16_t>(productValue);
    return true;
}

bool isHidrawName(const std::string& name) {
    const std::string prefix = "hidraw";
    return name.size() > prefix.size() && name.size() <= prefix.size() + 9 &&
           name.compare(0, prefix.size(), prefix) == 0 &&
           name.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

void describeHidraw(const std::string& name, HidDeviceInfo& info) {
    const fs::path node = fs::path(sysClassHidraw) / name / "device";
    info.path = (fs::path(devRoot) / name).string();
    info.attributesRead = parseHidId(readFile(node / "uevent"), info.vendorId, info.productId);
    info.usbDeviceId = owningUsbDevice(node);
}

}  // namespace zel::platform
