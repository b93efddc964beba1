// What sysfs says about a hidraw node: the HID device's vendor and product (HID_ID in its
// uevent) and the USB device that owns it. Shared by enumeration and the device watcher.
#pragma once

#include <cstdint>
#include <string>

#include "platform/HidSystem.h"

namespace zel::platform {

// Fixed roots of the shipped library; tests reach other trees through a mount namespace.
constexpr const char* sysClassHidraw = "/sys/class/hidraw";
constexpr const char* devRoot = "/dev";

// Fills `info` for hidraw node `name` ("hidraw3"): its path under devRoot, vendor and
// product (attributesRead false when the uevent is missing or unreadable) and owning USB
// device.
void describeHidraw(const std::string& name, HidDeviceInfo& info);

// Reads HID_ID=bus:vendor:product from a HID device's uevent text; false when it is missing
// or out of range.
bool parseHidId(const std::string& uevent, uint16_t& vendor, uint16_t& product);

// Whether `name` is a hidraw node's name ("hidraw" and digits only).
bool isHidrawName(const std::string& name);

}  // namespace zel::platform
