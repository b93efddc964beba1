// The colour pad's image bulk pipe on Linux through libusb: the USB device is found by the
// bus and device numbers of its sysfs node, interface 1 is claimed (detaching a kernel driver
// if one holds it) and blocks go to bulk OUT endpoint 0x01.
#include <libusb.h>

#include <fstream>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace zel::platform {
namespace {

constexpr int bulkInterface = 1;
constexpr unsigned char bulkOutEndpoint = 0x01;
// A block that has not gone out after this long will not: the pad has stopped reading.
constexpr unsigned int writeTimeoutMs = 30000;

struct ContextDeleter {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
struct HandleDeleter {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
struct ListDeleter {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using Context = std::unique_ptr<libusb_context, ContextDeleter>;
using Handle = std::unique_ptr<libusb_device_handle, HandleDeleter>;
using DeviceList = std::unique_ptr<libusb_device*, ListDeleter>;

class LibusbBulkPipe : public BulkPipe {
  public:
    LibusbBulkPipe(Context context, Handle handle)
        : context_(std::move(context)), handle_(std::move(handle)) {}
    ~LibusbBulkPipe() override { libusb_release_interface(handle_.get(), bulkInterface); }

    bool write(const uint8_t* data, uint32_t length) override {
        int transferred = 0;
        // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
        return libusb_bulk_transfer(handle_.get(), bulkOutEndpoint, const_cast<uint8_t*>(data),
                                    static_cast<int>(length), &transferred, writeTimeoutMs) == 0;
    }

    void reset() override { libusb_clear_halt(handle_.get(), bulkOutEndpoint); }

  private:
    Context context_;  // declared first, destroyed last
    Handle handle_;
};

bool readNumber(const std::string& path, int& value) {
    std::ifstream in(path);
    return static_cast<bool>(in >> value);
}

class LibusbBulkPipeSystem : public BulkPipeSystem {
  public:
    std::unique_ptr<BulkPipe> open(const std::string& usbDeviceId) override {
        int bus = 0, address = 0;
        if (!readNumber(usbDeviceId + "/busnum", bus) ||
            !readNumber(usbDeviceId + "/devnum", address))
            return nullptr;
        libusb_context* rawContext = nullptr;
        if (libusb_init(&rawContext) != 0) return nullptr;
        Context context(rawContext);
        libusb_device** rawList = nullptr;
        const ssize_t count = libusb_get_device_list(context.get(), &rawList);
        if (count < 0) return nullptr;
        DeviceList list(rawList);
        Handle handle;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = rawList[i];
            if (libusb_get_bus_number(device) != bus ||
                libusb_get_device_address(device) != address)
                continue;
            libusb_device_handle* rawHandle = nullptr;
            if (libusb_open(device, &rawHandle) != 0) return nullptr;
            handle.reset(rawHandle);
            break;
        }
        if (!handle) return nullptr;
        libusb_set_auto_detach_kernel_driver(handle.get(), 1);
        if (libusb_claim_interface(handle.get(), bulkInterface) != 0) return nullptr;
        return std::make_unique<LibusbBulkPipe>(std::move(context), std::move(handle));
    }
};

}  // namespace

BulkPipeSystem& nativeBulkPipeSystem() {
    static LibusbBulkPipeSystem system;
    return system;
}

}  // namespace zel::platform
