// HID access on Linux through hidraw. Enumeration reads sysfs: each /sys/class/hidraw/hidrawN
// names its HID device, whose uevent carries HID_ID=bus:vendor:product; the USB device that
// owns it is found by walking up from the HID device node (past the USB interface node, whose
// name holds ':', for composite devices). Feature reports use the hidraw feature ioctls; input
// reads poll() the hidraw node together with an eventfd that wake() signals.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/HidrawSysfs.h"
#include "platform/linux/UniqueFd.h"

namespace zel::platform {
namespace {

namespace fs = std::filesystem;

// Largest feature report the ioctls carry (their size field has 14 bits).
constexpr uint32_t maxFeatureLength = 4096;

class HidrawDevice : public HidDevice {
  public:
    HidrawDevice(UniqueFd device, UniqueFd wakeup)
        : device_(std::move(device)), wakeup_(std::move(wakeup)) {}

    bool check() override {
        int descriptorSize = 0;
        if (ioctl(device_.get(), HIDIOCGRDESCSIZE, &descriptorSize) < 0 || descriptorSize <= 0)
            return false;
        hidraw_report_descriptor descriptor{};
        descriptor.size = static_cast<uint32_t>(
            std::min<int>(descriptorSize, static_cast<int>(sizeof descriptor.value)));
        if (ioctl(device_.get(), HIDIOCGRDESC, &descriptor) < 0) return false;
        hidraw_devinfo info{};
        return ioctl(device_.get(), HIDIOCGRAWINFO, &info) >= 0;
    }

    bool getFeature(uint8_t* buffer, uint32_t length) override {
        if (length == 0 || length > maxFeatureLength) return false;
        return ioctl(device_.get(), HIDIOCGFEATURE(length), buffer) >= 0;
    }

    bool setFeature(const uint8_t* buffer, uint32_t length) override {
        if (length == 0 || length > maxFeatureLength) return false;
        // The ioctl is declared read-write; give it a scratch copy of the caller's report.
        std::vector<uint8_t> report(buffer, buffer + length);
        return ioctl(device_.get(), HIDIOCSFEATURE(length), report.data()) >= 0;
    }

    ReadResult readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() < 0) return {ReadStatus::TimedOut, 0};
            pollfd fds[2] = {{device_.get(), POLLIN, 0}, {wakeup_.get(), POLLIN, 0}};
            const int ready = poll(fds, 2, static_cast<int>(left.count()));
            if (ready < 0) {
                if (errno == EINTR) continue;
                return {ReadStatus::WaitFailed, 0};
            }
            if (ready == 0) return {ReadStatus::TimedOut, 0};
            if (fds[1].revents & POLLIN) {
                uint64_t count;
                while (::read(wakeup_.get(), &count, sizeof count) > 0) {
                }
                return {ReadStatus::Woken, 0};
            }
            if (fds[0].revents & POLLIN) {
                const ssize_t got = ::read(device_.get(), buffer, capacity);
                if (got > 0) return {ReadStatus::Data, static_cast<uint32_t>(got)};
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                return {ReadStatus::Failed, 0};
            }
            // POLLHUP, POLLERR or POLLNVAL: the pad is gone.
            return {ReadStatus::Failed, 0};
        }
    }

    void wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wakeup_.get(), &one, sizeof one);
    }

  private:
    UniqueFd device_;
    UniqueFd wakeup_;
};

uint32_t hidrawNumber(const std::string& name) {
    return static_cast<uint32_t>(std::strtoul(name.c_str() + std::strlen("hidraw"), nullptr, 10));
}

class HidrawSystem : public HidSystem {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& out) override {
        out.clear();
        std::error_code error;
        std::vector<std::string> names;
        for (fs::directory_iterator it(sysClassHidraw, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (isHidrawName(name)) names.push_back(name);
        }
        if (error && error != std::errc::no_such_file_or_directory) return false;
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return hidrawNumber(a) < hidrawNumber(b);
        });
        for (const std::string& name : names) {
            HidDeviceInfo info;
            describeHidraw(name, info);
            out.push_back(std::move(info));
        }
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path) override {
        UniqueFd device(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (!device.valid()) return nullptr;
        UniqueFd wakeup(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wakeup.valid()) return nullptr;
        return std::make_unique<HidrawDevice>(std::move(device), std::move(wakeup));
    }
};

}  // namespace

HidSystem& nativeHidSystem() {
    static HidrawSystem system;
    return system;
}

}  // namespace zel::platform
