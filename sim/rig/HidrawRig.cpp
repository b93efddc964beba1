#define FUSE_USE_VERSION 35
#include "sim/rig/HidrawRig.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace zel::sim {
namespace {

namespace fs = std::filesystem;

// The rig's hidraw numbers start high so that they never meet a real device's name.
constexpr uint32_t firstHidrawNumber = 40;
// A hidraw node keeps this many unread reports and drops the oldest beyond it.
constexpr size_t reportQueueLimit = 64;
// A small but well-formed report descriptor: one vendor-defined collection.
constexpr uint8_t reportDescriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                        0x01, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00,
                                        0x75, 0x08, 0x95, 0x06, 0x81, 0x02, 0xC0};

std::string hidrawName(size_t node) {
    return "hidraw" + std::to_string(firstHidrawNumber + node);
}

bool writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

// One served node: its pad (or foreign identity), the reports read from the pad and not yet
// taken by the host, and who waits for them.
struct Node {
    RigNode identity;
    std::mutex mutex;
    std::deque<std::vector<uint8_t>> reports;
    std::deque<fuse_req_t> parkedReads;
    fuse_pollhandle* pollHandle = nullptr;
    bool gone = false;
    std::atomic<bool> wake{false};
    std::atomic<uint64_t> overflowed{0};  // reports dropped because nobody read them in time
    std::thread pump;
};

struct HidrawRig::State {
    // Nodes are added while the file system runs and never removed before it stops; the
    // lock guards the list, each node's own state has its own.
    std::mutex nodesMutex;
    std::vector<std::unique_ptr<Node>> nodes;
    fs::path root;  // the rig's scratch directory
    fuse_session* session = nullptr;
    std::thread loop;
    std::atomic<bool> loopDone{false};
    unsigned connection = 0;  // the FUSE connection's number (minor of the mount's device)
    std::atomic<bool> running{false};
    bool devMounted = false;
    std::string sysMountPoint;  // where the rig's class tree is mounted, once it is

    Node* node(fuse_ino_t ino) {
        std::lock_guard<std::mutex> lock(nodesMutex);
        if (ino < 2 || ino - 2 >= nodes.size()) return nullptr;
        return nodes[ino - 2].get();
    }
    size_t nodeCount() {
        std::lock_guard<std::mutex> lock(nodesMutex);
        return nodes.size();
    }

    // Hands queued reports to parked reads and tells a poller; called with the node locked.
    static void deliverLocked(Node& node) {
        while (!node.parkedReads.empty() && (!node.reports.empty() || node.gone)) {
            fuse_req_t req = node.parkedReads.front();
            node.parkedReads.pop_front();
            if (node.reports.empty()) {
                fuse_reply_err(req, ENODEV);
                continue;
            }
            const std::vector<uint8_t> report = std::move(node.reports.front());
            node.reports.pop_front();
            fuse_reply_buf(req, reinterpret_cast<const char*>(report.data()), report.size());
        }
        if (node.pollHandle != nullptr && (!node.reports.empty() || node.gone)) {
            fuse_lowlevel_notify_poll(node.pollHandle);
            fuse_pollhandle_destroy(node.pollHandle);
            node.pollHandle = nullptr;
        }
    }

    // Moves the pad's pen reports into the node's queue as they fall due.
    void pump(Node& node) {
        std::vector<uint8_t> report;
        while (running) {
            const InputStatus status = node.identity.pad->readInput(report, 50, &node.wake);
            bool gone;
            {
                std::lock_guard<std::mutex> lock(node.mutex);
                if (status == InputStatus::report) {
                    node.reports.push_back(report);
                    if (node.reports.size() > reportQueueLimit) {
                        node.reports.pop_front();
                        ++node.overflowed;
                    }
                } else if (status == InputStatus::unplugged) {
                    node.gone = true;
                }
                deliverLocked(node);
                gone = node.gone;
            }
            // A gone pad stays gone; look again slowly only to notice the rig stopping.
            if (gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
};

namespace {

HidrawRig::State& stateOf(fuse_req_t req) {
    return *static_cast<HidrawRig::State*>(fuse_req_userdata(req));
}

void fillAttributes(HidrawRig::State& state, fuse_ino_t ino, struct stat& attributes) {
    std::memset(&attributes, 0, sizeof attributes);
    attributes.st_ino = ino;
    if (ino == FUSE_ROOT_ID) {
        attributes.st_mode = S_IFDIR | 0755;
        attributes.st_nlink = 2;
    } else {
        attributes.st_mode = S_IFREG | 0666;
        attributes.st_nlink = 1;
    }
    (void)state;
}

void rigLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    HidrawRig::State& state = stateOf(req);
    if (parent != FUSE_ROOT_ID) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    const size_t count = state.nodeCount();
    for (size_t i = 0; i < count; ++i) {
        if (hidrawName(i) != name) continue;
        fuse_entry_param entry{};
        entry.ino = i + 2;
        fillAttributes(state, entry.ino, entry.attr);
        fuse_reply_entry(req, &entry);
        return;
    }
    fuse_reply_err(req, ENOENT);
}

void rigGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    HidrawRig::State& state = stateOf(req);
    if (ino != FUSE_ROOT_ID && state.node(ino) == nullptr) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    struct stat attributes;
    fillAttributes(state, ino, attributes);
    fuse_reply_attr(req, &attributes, 0);
}

void rigOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    Node* node = stateOf(req).node(ino);
    if (node == nullptr) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    if (node->identity.pad && !node->identity.pad->plugged()) {
        fuse_reply_err(req, ENODEV);
        return;
    }
    fi->direct_io = 1;  // one read, one report: no page cache in between
    fi->nonseekable = 1;
    fi->fh = (fi->flags & O_NONBLOCK) != 0 ? 1 : 0;
    fuse_reply_open(req, fi);
}

void rigRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t, fuse_file_info* fi) {
    Node* node = stateOf(req).node(ino);
    if (node == nullptr || !node->identity.pad) {
        fuse_reply_err(req, node == nullptr ? ENOENT : EAGAIN);
        return;
    }
    std::lock_guard<std::mutex> lock(node->mutex);
    if (!node->reports.empty()) {
        std::vector<uint8_t> report = std::move(node->reports.front());
        node->reports.pop_front();
        fuse_reply_buf(req, reinterpret_cast<const char*>(report.data()),
                       std::min(size, report.size()));
    } else if (node->gone) {
        fuse_reply_err(req, ENODEV);
    } else if (fi->fh == 1) {
        fuse_reply_err(req, EAGAIN);
    } else {
        node->parkedReads.push_back(req);  // answered when a report arrives
    }
}

void rigPoll(fuse_req_t req, fuse_ino_t ino, fuse_file_info*, fuse_pollhandle* handle) {
    Node* node = stateOf(req).node(ino);
    if (node == nullptr) {
        if (handle != nullptr) fuse_pollhandle_destroy(handle);
        fuse_reply_err(req, ENOENT);
        return;
    }
    std::lock_guard<std::mutex> lock(node->mutex);
    unsigned events = POLLOUT;
    if (!node->reports.empty()) events |= POLLIN;
    if (node->gone) events |= POLLHUP | POLLERR;
    if (handle != nullptr) {
        if (node->pollHandle != nullptr) fuse_pollhandle_destroy(node->pollHandle);
        node->pollHandle = handle;
        if ((events & (POLLIN | POLLHUP)) != 0) HidrawRig::State::deliverLocked(*node);
    }
    fuse_reply_poll(req, events);
}

// The hidraw ioctls, in the restricted form FUSE carries: the kernel copies in and out as
// many bytes as each command's encoded size says.
void rigIoctl(fuse_req_t req, fuse_ino_t ino, unsigned int cmd, void*, fuse_file_info*,
              unsigned flags, const void* inBuffer, size_t inSize, size_t outSize) {
    Node* node = stateOf(req).node(ino);
    if (node == nullptr || (flags & FUSE_IOCTL_COMPAT) != 0) {
        fuse_reply_err(req, node == nullptr ? ENOENT : ENOSYS);
        return;
    }
    const std::shared_ptr<VirtualPad>& pad = node->identity.pad;
    if (pad && !pad->plugged()) {
        fuse_reply_err(req, ENODEV);
        return;
    }
    if (cmd == HIDIOCGRDESCSIZE) {
        const int size = sizeof reportDescriptor;
        fuse_reply_ioctl(req, 0, &size, sizeof size);
        return;
    }
    if (cmd == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor{};
        descriptor.size = sizeof reportDescriptor;
        std::memcpy(descriptor.value, reportDescriptor, sizeof reportDescriptor);
        fuse_reply_ioctl(req, 0, &descriptor, std::min(outSize, sizeof descriptor));
        return;
    }
    if (cmd == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = BUS_USB;
        info.vendor = static_cast<int16_t>(pad ? ZEL_PAD_VENDOR_ID : node->identity.vendorId);
        info.product =
            static_cast<int16_t>(pad ? pad->model().productId : node->identity.productId);
        fuse_reply_ioctl(req, 0, &info, sizeof info);
        return;
    }
    const unsigned length = _IOC_SIZE(cmd);
    const bool isFeature = _IOC_TYPE(cmd) == 'H' && _IOC_DIR(cmd) == (_IOC_READ | _IOC_WRITE) &&
                           length > 0 && inSize >= length &&
                           (_IOC_NR(cmd) == 0x06 || _IOC_NR(cmd) == 0x07);
    if (!isFeature || !pad) {
        fuse_reply_err(req, !isFeature ? ENOTTY : EPIPE);
        return;
    }
    const uint8_t* request = static_cast<const uint8_t*>(inBuffer);
    const Answer answer = _IOC_NR(cmd) == 0x06 ? pad->set(request, length) : pad->get(request[0]);
    if (answer.unplugged) {
        fuse_reply_err(req, ENODEV);
        return;
    }
    if (answer.linkFault == FaultKind::drop) {
        fuse_reply_err(req, EPIPE);  // the device stalled the transfer
        return;
    }
    if (answer.linkFault == FaultKind::delay)
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    if (_IOC_NR(cmd) == 0x06) {
        fuse_reply_ioctl(req, static_cast<int>(length), request, std::min<size_t>(length, outSize));
        return;
    }
    if (answer.code != 0) {
        fuse_reply_err(req, EPIPE);
        return;
    }
    std::vector<uint8_t> reply(length, 0);
    std::copy_n(answer.report.begin(), std::min<size_t>(length, answer.report.size()),
                reply.begin());
    fuse_reply_ioctl(req, static_cast<int>(length), reply.data(),
                     std::min<size_t>(length, outSize));
}

bool mountOrSay(const char* source, const char* target, const char* type, unsigned long flags,
                const char* data, std::string& error) {
    if (::mount(source, target, type, flags, data) == 0) return true;
    error = std::string("mount ") + (source ? source : "-") + " on " + target + ": " +
            std::strerror(errno);
    return false;
}

// A fresh /dev in this namespace that keeps the device nodes a process needs, so that the
// rig's nodes can be added without touching the host's /dev.
bool replaceDev(const fs::path& hostDev, std::string& error) {
    std::error_code ignored;
    fs::create_directories(hostDev, ignored);
    if (!mountOrSay("/dev", hostDev.c_str(), nullptr, MS_BIND | MS_REC, nullptr, error) ||
        !mountOrSay("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=755", error))
        return false;
    for (const char* name : {"null", "zero", "full", "random", "urandom", "tty", "ptmx", "fuse",
                             "pts", "shm", "fd", "stdin", "stdout", "stderr"}) {
        const fs::path source = hostDev / name;
        const fs::path target = fs::path("/dev") / name;
        struct stat info;
        if (::lstat(source.c_str(), &info) != 0) continue;
        if (S_ISLNK(info.st_mode)) {
            fs::create_symlink(fs::read_symlink(source, ignored), target, ignored);
            continue;
        }
        if (S_ISDIR(info.st_mode))
            fs::create_directory(target, ignored);
        else
            writeText(target, "");
        if (!mountOrSay(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr, error))
            return false;
    }
    return true;
}

// Puts the rig's hidraw class directory at /sys/class/hidraw. Where the kernel has no hidraw
// class, /sys/class itself is covered by a directory that links every other class back.
bool mountClassTree(const fs::path& rigClass, std::string& mountPoint, std::string& error) {
    if (fs::is_directory("/sys/class/hidraw")) {
        mountPoint = "/sys/class/hidraw";
        return mountOrSay((rigClass / "hidraw").c_str(), mountPoint.c_str(), nullptr, MS_BIND,
                          nullptr, error);
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/sys/class", ignored))
        if (entry.path().filename() != "hidraw")
            fs::create_symlink(entry.path(), rigClass / entry.path().filename(), ignored);
    mountPoint = "/sys/class";
    return mountOrSay(rigClass.c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr, error);
}

// The sysfs tree of node i: a USB device 1-i with busnum/devnum, its interface 1-i:1.0, the
// HID device below it with HID_ID in its uevent, and the class link to it.
void writeSysfs(const fs::path& sysDir, size_t i, const RigNode& node) {
    const uint16_t vendor = node.pad ? ZEL_PAD_VENDOR_ID : node.vendorId;
    const uint16_t product = node.pad ? node.pad->model().productId : node.productId;
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04zX", vendor, product, i + 1);
    char hidId[64];
    std::snprintf(hidId, sizeof hidId, "HID_ID=0003:%08X:%08X\n", vendor, product);
    const std::string usb = "1-" + std::to_string(i + 1);
    const fs::path usbDevice = sysDir / "devices" / "usb1" / usb;
    const fs::path hidDevice = usbDevice / (usb + ":1.0") / hidName;
    const fs::path classDevice = hidDevice / "hidraw" / hidrawName(i);
    fs::create_directories(classDevice);
    writeText(usbDevice / "busnum", "1\n");
    writeText(usbDevice / "devnum", std::to_string(i + 2) + "\n");
    writeText(hidDevice / "uevent",
              std::string("DRIVER=hid-generic\n") + hidId + "HID_NAME=virtual pad\n");
    std::error_code ignored;
    fs::create_directory_symlink("../..", classDevice / "device", ignored);
    fs::create_directory_symlink(classDevice, sysDir / "class" / "hidraw" / hidrawName(i), ignored);
}

// Aborts a FUSE connection through the fusectl file system (mounted here if needed).
void abortConnection(unsigned connection) {
    const fs::path connections = "/sys/fs/fuse/connections";
    std::error_code ignored;
    if (fs::is_empty(connections, ignored))
        ::mount("fusectl", connections.c_str(), "fusectl", 0, nullptr);
    writeText(connections / std::to_string(connection) / "abort", "1");
}

}  // namespace

HidrawRig::HidrawRig() : state_(std::make_unique<State>()) {}

HidrawRig::~HidrawRig() {
    stop();
}

std::string HidrawRig::unavailableReason() {
    if (geteuid() != 0) return "needs root (mount namespaces, FUSE, bind mounts)";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no usable /dev/fuse";
    if (!fs::is_directory("/sys/class")) return "no sysfs at /sys";
    return {};
}

bool HidrawRig::start(const std::vector<RigNode>& nodes, std::string& error) {
    error = unavailableReason();
    if (!error.empty()) return false;
    // Everything below stays inside this process's own mount namespace.
    if (::unshare(CLONE_NEWNS) != 0) {
        error = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    if (!mountOrSay(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr, error)) return false;

    State& state = *state_;
    char scratch[] = "/tmp/zeltablet-rig-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) {
        error = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    state.root = scratch;
    const fs::path fuseDir = state.root / "fuse";
    const fs::path sysDir = state.root / "sys";
    fs::create_directories(fuseDir);
    fs::create_directories(sysDir / "class" / "hidraw");

    for (size_t i = 0; i < nodes.size(); ++i) {
        state.nodes.push_back(std::make_unique<Node>());
        state.nodes.back()->identity = nodes[i];
        writeSysfs(state.root / "sys", i, nodes[i]);
    }

    fuse_lowlevel_ops operations{};
    operations.lookup = rigLookup;
    operations.getattr = rigGetattr;
    operations.open = rigOpen;
    operations.read = rigRead;
    operations.poll = rigPoll;
    operations.ioctl = rigIoctl;
    const char* argv[] = {"zeltablet-rig", "-o", "fsname=zeltablet-rig,default_permissions"};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    state.session = fuse_session_new(&args, &operations, sizeof operations, &state);
    fuse_opt_free_args(&args);  // option parsing may have copied them
    if (state.session == nullptr || fuse_session_mount(state.session, fuseDir.c_str()) != 0) {
        error = "the FUSE session could not be mounted";
        return false;
    }
    state.running = true;
    state.loop = std::thread([&state] {
        fuse_session_loop(state.session);
        state.loopDone = true;
    });
    // Asks the file system itself, so only once its loop is answering.
    struct stat mounted;
    if (::stat(fuseDir.c_str(), &mounted) == 0) state.connection = minor(mounted.st_dev);
    for (auto& node : state.nodes)
        if (node->identity.pad)
            node->pump = std::thread([&state, n = node.get()] { state.pump(*n); });

    if (!replaceDev(state.root / "hostdev", error)) return false;
    state.devMounted = true;
    for (size_t i = 0; i < nodes.size(); ++i) {
        writeText(fs::path("/dev") / hidrawName(i), "");
        if (!mountDevNode(i, error)) return false;
    }
    std::string mountPoint;
    if (!mountClassTree(sysDir / "class", mountPoint, error)) return false;
    state.sysMountPoint = mountPoint;
    return true;
}

bool HidrawRig::mountDevNode(size_t node, std::string& error) {
    const fs::path target = fs::path("/dev") / hidrawName(node);
    return mountOrSay((state_->root / "fuse" / hidrawName(node)).c_str(), target.c_str(), nullptr,
                      MS_BIND, nullptr, error);
}

bool HidrawRig::plug(const RigNode& node, Readiness readiness, uint32_t lateMs, size_t& index,
                     std::string& error) {
    State& state = *state_;
    if (!state.devMounted) {
        error = "the rig is not running";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(state.nodesMutex);
        index = state.nodes.size();
        state.nodes.push_back(std::make_unique<Node>());
        state.nodes.back()->identity = node;
    }
    Node& added = *state.node(index + 2);
    if (node.pad) added.pump = std::thread([&state, n = &added] { state.pump(*n); });
    // The device node first, as a plain file that no hidraw query answers, then (at once, a
    // moment later or never) what makes it a usable pad: its sysfs entry, the file system's
    // node over it and its permissions.
    const fs::path target = fs::path("/dev") / hidrawName(index);
    if (!writeText(target, "")) {
        error = "cannot create " + target.string();
        return false;
    }
    ::chmod(target.c_str(), 0600);
    if (readiness == Readiness::never) {
        writeSysfs(state.root / "sys", index, node);
        return true;
    }
    if (readiness == Readiness::late)
        std::this_thread::sleep_for(std::chrono::milliseconds(lateMs));
    writeSysfs(state.root / "sys", index, node);
    ::chmod(target.c_str(), 0660);
    return mountDevNode(index, error);
}

bool HidrawRig::unplug(size_t index) {
    State& state = *state_;
    Node* node = state.node(index + 2);
    if (node == nullptr || !state.devMounted) return false;
    if (node->identity.pad) node->identity.pad->unplug();
    {
        std::lock_guard<std::mutex> lock(node->mutex);
        node->gone = true;
        State::deliverLocked(*node);
    }
    // As the kernel does: the class entry and the device node go.
    const fs::path target = fs::path("/dev") / hidrawName(index);
    ::umount2(target.c_str(), MNT_DETACH);
    ::unlink(target.c_str());
    std::error_code ignored;
    fs::remove(state.root / "sys" / "class" / "hidraw" / hidrawName(index), ignored);
    return true;
}

void HidrawRig::stop() {
    State& state = *state_;
    if (!state.sysMountPoint.empty()) ::umount2(state.sysMountPoint.c_str(), MNT_DETACH);
    if (state.devMounted) ::umount2("/dev", MNT_DETACH);
    state.sysMountPoint.clear();
    state.devMounted = false;
    state.running = false;
    for (auto& node : state.nodes) {
        node->wake = true;
        if (node->identity.pad) node->identity.pad->wakeInputReaders();
        if (node->pump.joinable()) node->pump.join();
        std::lock_guard<std::mutex> lock(node->mutex);
        for (fuse_req_t req : node->parkedReads)
            fuse_reply_err(req, EIO);
        node->parkedReads.clear();
        if (node->pollHandle != nullptr) fuse_pollhandle_destroy(node->pollHandle);
        node->pollHandle = nullptr;
    }
    if (state.session != nullptr) {
        // Unmounting ends the kernel's side of the connection, so the loop's read returns and
        // the loop ends; only then is the session's descriptor closed.
        fuse_session_exit(state.session);
        ::umount2((state.root / "fuse").c_str(), MNT_DETACH);
        // A file somebody still holds open keeps the connection; abort it then.
        for (int i = 0; i < 300 && !state.loopDone; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!state.loopDone) abortConnection(state.connection);
        if (state.loop.joinable()) state.loop.join();
        fuse_session_unmount(state.session);
        fuse_session_destroy(state.session);
        state.session = nullptr;
    }
    state.nodes.clear();
    if (!state.root.empty()) {
        // Only what the rig made is removed, and directories that held mounts only when
        // empty: a mount that failed to go must never lead a removal into the host's /dev.
        std::error_code ignored;
        ::umount2((state.root / "hostdev").c_str(), MNT_DETACH);
        fs::remove_all(state.root / "sys", ignored);
        ::rmdir((state.root / "hostdev").c_str());
        ::rmdir((state.root / "fuse").c_str());
        ::rmdir(state.root.c_str());
        state.root.clear();
    }
}

std::string HidrawRig::devicePath(size_t node) const {
    return "/dev/" + hidrawName(node);
}

uint64_t HidrawRig::overflowedReports(size_t node) const {
    if (!state_ || node >= state_->nodes.size()) return 0;
    return state_->nodes[node]->overflowed.load();
}

}  // namespace zel::sim
