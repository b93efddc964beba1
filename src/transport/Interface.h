// The abstract link between the tablet and one pad. It owns the open device and a reader
// thread, carries feature reports and image data for the tablet, and turns the pad's pen
// input reports into PenData records for its listener.
//
// Life of a transport: construct, open, startReader; then any number of getFeature,
// setFeature, writeBulk (openBulk once, HID only); destruction stops the reader, waits for it
// to end (without a bound: a reader stuck in a listener callback still uses this object) and
// closes the device. One object serves one connection.
//
// Threads: the reader thread alone calls readInput, decodePenData and the listener's
// onPenData. getFeature, setFeature and writeBulk run on the host's thread while it reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Device.h"
#include "platform/ReaderThread.h"
#include "transport/InterfaceListener.h"
#include "transport/PenData.h"

namespace zel {

class Interface {
  public:
    static constexpr uint32_t readerBufferSize = 256;
    static constexpr uint32_t readerTimeoutMs = 30000;
    static constexpr uint32_t readerStopTimeoutMs = 10000;
    static constexpr uint32_t heldReportLimit = 65536;

    explicit Interface(InterfaceListener* listener);
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    // Reads the next input unit (an input report on HID, a frame on serial) into `buffer`;
    // returns its length, 0 when nothing came within `timeoutMs`.
    virtual uint32_t readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) = 0;

    // Decodes one pen input report into `out` (see Interface.cpp for the layouts). True when
    // `out` holds a sample to deliver.
    virtual bool decodePenData(PenData& out, uint8_t* report, uint32_t length);

    // Stops the reader and closes the device.
    virtual ~Interface();

    // Opens the device at `path` (UTF-8). False leaves the transport closed.
    virtual bool open(const char* path);

    // Closes the device if it is open.
    virtual void close();

    // Starts the reader thread; on failure the device is closed and false returned.
    virtual bool startReader();

    // Stops the reader thread, waiting at most stopTimeoutMs() for it. Transports first wake a
    // reader blocked in a read, then call this. A reader that did not end in time (its
    // listener callback has not returned) goes on to the end of the report in hand and then
    // ends without reading again; the object must outlive it (readerFinished(), endReader()).
    virtual void stopReader();

    // Stops the reader and waits, without a bound, until every reader thread of this object
    // has ended. Every transport's destructor runs it before its own members go.
    void endReader();

    // Whether no reader thread of this object is running any more (also when none started).
    bool readerFinished() const { return readerThread.finished(); }

    // How long stopReader waits for the reader (readerStopTimeoutMs unless changed).
    uint32_t stopTimeoutMs() const { return stopTimeout.load(std::memory_order_relaxed); }
    void setStopTimeoutMs(uint32_t ms) { stopTimeout.store(ms, std::memory_order_relaxed); }

    // Fetches the feature report whose ID is buffer[0] into `buffer`. `status` (may be null)
    // receives a device error code where the transport reports one.
    virtual bool getFeature(uint8_t* buffer, uint32_t length, uint32_t* status) = 0;

    // Sends the feature report held in `buffer` (buffer[0] is its ID).
    virtual bool setFeature(uint8_t* buffer, uint32_t length, uint32_t* status) = 0;

    // Sends one block over the image bulk pipe.
    virtual bool writeBulk(uint8_t* data, uint32_t length, uint32_t* status) = 0;

    // Opens the image bulk pipe of the USB device `deviceInstanceId`.
    virtual bool openBulk(const char* deviceInstanceId) = 0;

    // Whether the device is open (the connection test's first half).
    bool isOpen() const { return device != nullptr; }

    // Clears `running` so the reader loop ends after the report it is handling, without
    // waiting for it: what a release on the reader's own thread (a callback) needs, as that
    // reader must not go on taking reports from the device once its callback returns.
    void requestStop() { running.store(0, std::memory_order_release); }

    // Whether the reader thread is meant to keep going.
    bool isReading() const { return running.load(std::memory_order_acquire) != 0; }

    // True when called on this transport's own reader thread (from a listener callback).
    bool onReaderThread() const { return readerThread.isCurrentThread(); }

    // While held, the reader goes on reading (a serial link needs it for the pad's answers)
    // but keeps pen reports, in arrival order, instead of decoding them; once the hold is
    // lifted it decodes them before anything newer. Holding waits until a report being
    // decoded has been delivered, so that from then on nothing is decrypted until the hold is
    // lifted: the pen-data key changes under a hold. Holds nest: each hold(true) is lifted by
    // one hold(false), and reports flow again when the last one is. Never call it on the
    // reader thread (it would wait for itself). Beyond heldReportLimit held reports (minutes
    // of pen data) the newest are dropped.
    void holdPenReports(bool hold);

    // Hands out the pen reports held and not yet delivered (oldest first), leaving none.
    std::deque<std::vector<uint8_t>> takeHeldReports();
    // Puts `reports` in front of the held ones: they came from the pad before those.
    void prependHeldReports(std::deque<std::vector<uint8_t>> reports);

    // Runs `action` once no reader thread of this object is running any more: at once when
    // none runs, else on the last reader thread as it ends (after its loop, while the object
    // still exists). A later call replaces an action not yet run.
    void whenReaderEnds(std::function<void()> action);

  protected:
    // Opens the OS device for `path`; the base open() stores what it returns.
    virtual std::unique_ptr<platform::Device> openDevice(const char* path) = 0;

    // Ends a blocked read at once without losing input, so that the reader looks at its held
    // pen reports again.
    virtual void wakeReader() {}

    InterfaceListener* listener;
    std::unique_ptr<platform::Device> device;
    // Written by the stopping thread, read by the reader at the top of each loop.
    std::atomic<uint32_t> running{0};
    platform::ReaderThread readerThread;

  private:
    // Runs while `running` is set and no newer reader was started: a reader whose stop timed
    // out (a callback that did not return in time) ends once it gets back here, even when the
    // transport has been restarted meanwhile.
    void readerLoop(uint32_t generation);
    // Counts a reader loop out and runs the end action after the last one.
    void readerEnded();
    void deliver(PenData& record, uint8_t* report, uint32_t length);
    void decodeSample(PenData& out, const uint8_t* sample);

    std::atomic<uint32_t> stopTimeout{readerStopTimeoutMs};
    // Held by the reader while it decodes and delivers, and by holdPenReports.
    std::mutex penGate;
    uint32_t penReportHolds = 0;
    std::deque<std::vector<uint8_t>> heldReports;
    std::atomic<uint32_t> readerGeneration{0};

    // Reader loops started and not yet ended, and what to run when the last one ends.
    std::mutex endLock;
    uint32_t liveReaders = 0;
    std::function<void()> endAction;
};

}  // namespace zel
