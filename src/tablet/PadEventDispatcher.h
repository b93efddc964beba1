// Pads arriving and leaving, delivered to listeners on one thread of the library.
//
// The dispatcher takes the raw changes of its device watchers (the operating system's, the
// virtual pads'), keeps only interfaces of the pads' vendor, reads an arriving pad's
// identifier and hands each event to every listener, one event at a time and in the order
// the watchers reported them. Listeners run on the dispatcher's thread and may subscribe and
// unsubscribe (themselves included) from there.
//
// The thread and the watchers run while at least one listener is subscribed: the first
// subscription starts them and the last unsubscription made outside the dispatcher's thread
// stops them (one made from inside a listener leaves them idle until the next subscription
// or the dispatcher's end).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DeviceWatcher.h"

namespace zel {

struct PadEvent {
    enum class Kind { arrived, removed };
    Kind kind = Kind::arrived;
    std::string path;  // HID path, as listDevices and connect use it
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string usbDeviceId;
    // Arrivals: the pad's identifier, read once its node could be opened; 0 with uidRead
    // false when it could not be read. Removals carry the identifier the arrival read.
    uint32_t uid = 0;
    bool uidRead = false;
    // Arrivals: false when the node never became openable (see DeviceEvent::openable).
    bool openable = true;
};

class PadEventDispatcher final : private platform::DeviceEventSink {
  public:
    using Listener = std::function<void(const PadEvent&)>;

    // Events waiting for the thread; beyond this the newest are dropped and counted.
    static constexpr size_t maxQueuedEvents = 4096;
    static constexpr size_t maxListeners = 256;

    explicit PadEventDispatcher(std::vector<std::unique_ptr<platform::DeviceWatcher>> watchers);
    ~PadEventDispatcher();
    PadEventDispatcher(const PadEventDispatcher&) = delete;
    PadEventDispatcher& operator=(const PadEventDispatcher&) = delete;

    // Adds a listener for the events from now on; its ID, or 0 when no watcher could start,
    // the listener is empty or maxListeners are subscribed.
    uint64_t subscribe(Listener listener);
    // Removes a listener. Outside the dispatcher's thread it waits until a call to it that is
    // running has returned; inside (from a listener) it returns at once, and the listener is
    // not called again. Unknown IDs are ignored.
    void unsubscribe(uint64_t id);

    // Whether the calling thread is the dispatcher's.
    bool onDispatchThread() const;
    // Events dropped because the queue was full.
    uint64_t droppedEvents() const;

  private:
    void deviceChanged(const platform::DeviceEvent& event) override;
    void run();
    void deliver(const PadEvent& event);
    PadEvent prepare(const platform::DeviceEvent& change);
    void stopLocked(std::unique_lock<std::mutex>& control);

    std::vector<std::unique_ptr<platform::DeviceWatcher>> watchers_;

    // Serialises starting and stopping.
    std::mutex controlMutex_;
    bool running_ = false;
    std::thread thread_;

    // The queue, the listeners and the call in progress.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<platform::DeviceEvent> queue_;
    bool stopping_ = false;
    std::map<uint64_t, Listener> listeners_;  // IDs grow, so the map keeps subscription order
    uint64_t nextId_ = 1;
    uint64_t callingId_ = 0;  // the listener being called now, 0 when none
    uint64_t dropped_ = 0;
    std::thread::id threadId_;

    // Identifiers read at arrival, by path, for the removals (touched on the thread only).
    std::map<std::string, uint32_t> knownUids_;
};

}  // namespace zel
