// The tablet's reading of what pads report: discovery over a set of scripted HID interfaces
// (vendor, product, readable attributes) and the decoding of every GET reply (identity,
// status, capabilities, settings, the pad's public key of the pen-data key agreement),
// replies of any length and content.
//
// Input: byte 0 = number of interfaces (0..15); 3 bytes per interface (product ID low byte,
// flags: bit 0 foreign vendor, bit 1 attributes unreadable, bit 2 every SET fails);
// 1 byte model selector; then replies as [report ID][length][bytes], given to every pad.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/ScopedHidBackend.h"
#include "tablet/ZELTablet.h"
#include "tests/tablet/ScriptedHid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel;
    size_t at = 0;
    auto next = [&]() -> int { return at < size ? data[at++] : -1; };

    test::ScriptedHid hid;
    std::vector<test::ScriptedHid::Pad*> pads;
    const int count = next();
    for (int i = 0; i < (count < 0 ? 0 : count % 16); ++i) {
        const int product = next(), flags = next(), uid = next();
        if (uid < 0) break;
        const uint16_t vendor = (flags & 1) ? PAD_VENDOR_ID ^ 0x0101 : PAD_VENDOR_ID;
        test::ScriptedHid::Pad& pad = hid.add(
            vendor, static_cast<uint16_t>(0xA0 | (product & 0x0F)), static_cast<uint32_t>(uid));
        pad.info.attributesRead = (flags & 2) == 0;
        pad.failSets = (flags & 4) != 0;
        pads.push_back(&pad);
    }
    const int selector = next();
    while (at + 2 <= size) {
        const uint8_t reportId = data[at];
        const size_t length = data[at + 1];
        at += 2;
        const size_t available = size - at < length ? size - at : length;
        std::vector<uint8_t> reply(data + at, data + at + available);
        at += available;
        for (auto* pad : pads)
            pad->replies[reportId] = reply;
    }

    const platform::ScopedHidBackend selected(&hid, nullptr);
    {
        ZELTablet tablet;
        DeviceEntry entries[ZELTablet::maxDeviceEntries] = {};
        uint32_t listed = 0;
        tablet.listDevices(0, 0, static_cast<int8_t>(selector), entries, &listed);
        if (listed > ZELTablet::maxDeviceEntries) __builtin_trap();
        if (tablet.connect(0, 0, static_cast<int8_t>(selector), 0)) {
            TabletInformation information;
            if (tablet.getInformation(&information) &&
                information.modelName[TabletInformation::modelNameLength - 1] != 0)
                __builtin_trap();  // the name must always end within its buffer
            TabletStatus status;
            tablet.getStatus(&status);
            TabletCapabilities capabilities;
            tablet.getCapabilities(&capabilities);
            uint32_t a = 0, b = 0;
            tablet.getUid(&a);
            tablet.getPenProperties(&a, &b);
            tablet.getClearScreenColour(&a);
            tablet.getBacklightBrightness(&a);
            tablet.setPenProperties(a, b);
            tablet.isConnected();
            tablet.agreePenDataKey(nullptr, 0, nullptr, 0);
        }
    }
    return 0;
}
