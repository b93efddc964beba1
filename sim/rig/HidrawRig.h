// Virtual pads as hidraw nodes served through the kernel, so that the shipped Linux HID
// backend runs unchanged against them. A FUSE file system serves one file per pad: feature
// reports travel as the hidraw feature ioctls, reads return pen reports, poll reports them
// ready. Inside a private mount namespace those files are bind-mounted over /dev/hidrawN
// (on a fresh /dev that keeps the usual device nodes) and a matching sysfs tree over
// /sys/class/hidraw.
//
// Needs root and /dev/fuse, and changes the process's mount namespace: meant for test and
// benchmark programs only. start() must run while the process has a single thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/VirtualPad.h"

namespace zel::sim {

// One node of the rig: a virtual pad, or a foreign HID device that only answers its
// identity queries (so that discovery has something to ignore).
struct RigNode {
    std::shared_ptr<VirtualPad> pad;  // null for a foreign device
    uint16_t vendorId = 0;            // foreign devices only
    uint16_t productId = 0;           // foreign devices only
};

class HidrawRig {
  public:
    HidrawRig();
    ~HidrawRig();
    HidrawRig(const HidrawRig&) = delete;
    HidrawRig& operator=(const HidrawRig&) = delete;

    // Why the rig cannot run here (not root, no /dev/fuse, ...), or empty when it can.
    static std::string unavailableReason();

    // Serves `nodes` as /dev/hidraw<first>, <first+1>, ...; false with `error` set on failure.
    bool start(const std::vector<RigNode>& nodes, std::string& error);
    void stop();

    // Adds a node while the rig runs, as a pad being plugged in; `index` receives its number
    // (for devicePath and unplug). Its device node appears first; with `late` its sysfs entry,
    // its permissions and the working node follow `lateMs` later (the call waits that long),
    // with `never` the node stays a file nothing answers on.
    enum class Readiness { immediate, late, never };
    bool plug(const RigNode& node, Readiness readiness, uint32_t lateMs, size_t& index,
              std::string& error);
    // Takes a node away as the kernel does when its pad is unplugged: the pad goes, open
    // handles see it gone, the device node and its class entry are removed.
    bool unplug(size_t index);

    std::string devicePath(size_t node) const;
    // Pen reports a node dropped because its buffer (64 reports, as the hidraw driver's) was
    // full: the host did not read them in time.
    uint64_t overflowedReports(size_t node) const;

    struct State;  // the file server's state, opaque outside the rig

  private:
    bool mountDevNode(size_t node, std::string& error);

    std::unique_ptr<State> state_;
};

}  // namespace zel::sim
