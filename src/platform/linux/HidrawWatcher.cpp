// Watches hidraw nodes come and go by watching the device directory with inotify, and reads
// what each node is from sysfs (as enumeration does).
//
// Why not a udev monitor: udev's events come from the udev daemon over netlink, and in
// containers and minimal systems that daemon is often not running, so a monitor would hear
// nothing there; netlink is also not confined to a mount namespace, so a test rig cannot
// stage devices for it. The device directory is what the library opens anyway: a node is
// reported when the library could open it, which is the moment a host cares about.
//
// The node appears before it is ready. The kernel creates /dev/hidrawN as root-only and the
// device manager applies its permissions (and the sysfs entry may still be filling in) a
// moment later. So an arrival is reported once, when the node is usable: it opens for
// reading and writing, answers the hidraw information query and sysfs names its vendor and
// product. Until then it is looked at again on every attribute change (IN_ATTRIB: the
// permissions being applied), every 5 ms for its first 200 ms and every 50 ms after, for at
// most 3 seconds. A node that is still
// not usable then is reported once with `openable` false if sysfs (or the node) says what it
// is, and not at all otherwise. Removals are reported for nodes that were reported (or were
// present when watching started), with what was known of them.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <dirent.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/DeviceWatcher.h"
#include "platform/LibraryPin.h"
#include "platform/Platform.h"
#include "platform/linux/HidrawSysfs.h"
#include "platform/linux/UniqueFd.h"

namespace zel::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto settleTime = std::chrono::seconds(3);
// A node usually becomes usable within milliseconds of appearing: looked at often at first,
// then less often until its settling time ends.
constexpr auto quickRecheckInterval = std::chrono::milliseconds(5);
constexpr auto quickRecheckTime = std::chrono::milliseconds(200);
constexpr auto recheckInterval = std::chrono::milliseconds(50);
// Nodes followed at once; a directory flooded with hidraw names beyond this is not followed
// further (their removals are then not reported).
constexpr size_t maxNodes = 1024;

// The names of the hidraw nodes in the device directory now.
std::set<std::string> listNodes() {
    std::set<std::string> names;
    DIR* directory = ::opendir(devRoot);
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory))
        if (isHidrawName(entry->d_name) && names.size() < maxNodes) names.insert(entry->d_name);
    ::closedir(directory);
    return names;
}

class HidrawWatcher : public DeviceWatcher {
  public:
    ~HidrawWatcher() override { stop(); }

    bool start(DeviceEventSink& sink) override {
        stop();
        UniqueFd notify(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        UniqueFd wakeup(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!notify.valid() || !wakeup.valid()) return false;
        if (inotify_add_watch(
                notify.get(), devRoot,
                IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR) < 0)
            return false;
        notify_ = std::move(notify);
        wakeup_ = std::move(wakeup);
        sink_ = &sink;
        present_.clear();
        pending_.clear();
        // Nodes already there are not arrivals, but their removal is reported. One still
        // settling is followed as a new one.
        for (const std::string& name : listNodes()) {
            HidDeviceInfo info;
            describeHidraw(name, info);
            if (info.attributesRead)
                present_[name] = info;
            else
                pending_[name] = Clock::now() + settleTime;
        }
        keepLibraryLoaded();
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void stop() override {
        if (!thread_.joinable()) return;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wakeup_.get(), &one, sizeof one);
        thread_.join();
        notify_.reset();
        wakeup_.reset();
        sink_ = nullptr;
    }

  private:
    void run() {
        for (;;) {
            int timeoutMs = -1;
            if (!pending_.empty()) timeoutMs = static_cast<int>(nextRecheck().count());
            pollfd fds[2] = {{notify_.get(), POLLIN, 0}, {wakeup_.get(), POLLIN, 0}};
            const int ready = ::poll(fds, 2, timeoutMs);
            if (ready < 0 && errno != EINTR) return;
            if (ready > 0 && (fds[1].revents & POLLIN) != 0) return;
            if (ready > 0 && (fds[0].revents & POLLIN) != 0) readChanges();
            if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;
            recheckPending();
        }
    }

    void readChanges() {
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            const ssize_t got = ::read(notify_.get(), buffer, sizeof buffer);
            if (got <= 0) return;  // EAGAIN: drained
            for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                const ssize_t size = static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (offset + size > got) break;
                offset += size;
                if ((event->mask & IN_Q_OVERFLOW) != 0) {
                    resynchronise();
                    continue;
                }
                if (event->len == 0) continue;
                const std::string name(event->name, ::strnlen(event->name, event->len));
                if (!isHidrawName(name)) continue;
                changed(name, event->mask);
            }
        }
    }

    void changed(const std::string& name, uint32_t mask) {
        if ((mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
            removed(name);
        } else if ((mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
            // A node replaced under the same name is a new device.
            removed(name);
            if (pending_.size() + present_.size() < maxNodes) {
                pending_[name] = Clock::now() + settleTime;
                check(name, false);
            }
        } else if ((mask & IN_ATTRIB) != 0 && pending_.count(name) != 0) {
            check(name, false);
        }
    }

    void removed(const std::string& name) {
        pending_.erase(name);  // never reported, so it leaves silently
        auto known = present_.find(name);
        if (known == present_.end()) return;
        DeviceEvent event;
        event.kind = DeviceEvent::Kind::removed;
        fill(event, known->second);
        present_.erase(known);
        sink_->deviceChanged(event);
    }

    // Lost events: whatever vanished is reported gone, whatever is new is followed.
    void resynchronise() {
        const std::set<std::string> now = listNodes();
        std::vector<std::string> gone;
        for (const auto& [name, info] : present_)
            if (now.count(name) == 0) gone.push_back(name);
        for (const std::string& name : gone)
            removed(name);
        for (const std::string& name : now)
            if (present_.count(name) == 0 && pending_.count(name) == 0)
                pending_[name] = Clock::now() + settleTime;
    }

    std::chrono::milliseconds nextRecheck() const {
        const Clock::time_point now = Clock::now();
        for (const auto& [name, deadline] : pending_)
            if (now < deadline - settleTime + quickRecheckTime) return quickRecheckInterval;
        return recheckInterval;
    }

    void recheckPending() {
        std::vector<std::string> names;
        for (const auto& [name, deadline] : pending_)
            names.push_back(name);
        for (const std::string& name : names)
            check(name, Clock::now() >= pending_[name]);
    }

    // Reports the node once it is usable, or at its deadline as it then is.
    void check(const std::string& name, bool deadlinePassed) {
        HidDeviceInfo info;
        describeHidraw(name, info);
        hidraw_devinfo raw{};
        const bool opened = openable(info.path, raw);
        if (!(opened && info.attributesRead) && !deadlinePassed) return;
        pending_.erase(name);
        if (!info.attributesRead) {
            if (!opened) return;  // nothing says what it is
            // sysfs never filled in; the node itself names its vendor and product.
            info.vendorId = static_cast<uint16_t>(raw.vendor);
            info.productId = static_cast<uint16_t>(raw.product);
        }
        present_[name] = info;
        DeviceEvent event;
        event.kind = DeviceEvent::Kind::arrived;
        fill(event, info);
        event.openable = opened;
        sink_->deviceChanged(event);
    }

    static bool openable(const std::string& path, hidraw_devinfo& raw) {
        UniqueFd device(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        return device.valid() && ioctl(device.get(), HIDIOCGRAWINFO, &raw) >= 0;
    }

    static void fill(DeviceEvent& event, const HidDeviceInfo& info) {
        event.path = info.path;
        event.vendorId = info.vendorId;
        event.productId = info.productId;
        event.usbDeviceId = info.usbDeviceId;
        event.system = &nativeHidSystem();
    }

    UniqueFd notify_;
    UniqueFd wakeup_;
    DeviceEventSink* sink_ = nullptr;
    std::thread thread_;
    // Touched by the watching thread only while it runs (and by start before it runs).
    std::map<std::string, HidDeviceInfo> present_;
    std::map<std::string, Clock::time_point> pending_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher() {
    return std::make_unique<HidrawWatcher>();
}

}  // namespace zel::platform
