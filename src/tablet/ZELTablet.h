// The library's model of one signature pad: finds pads, binds to one through a transport (HID
// or a serial port), sends the command set as feature reports and hands the pen samples that
// the transport's reader thread decodes to the host.
//
// Operations return 1 (done) or 0 (failed) and take, last, an optional status output that is
// passed unchanged to the transport (only the serial transport writes it). An operation
// called without a transport fails and sends nothing.
//
// Threads. The host calls in on its own thread; pen samples arrive on the transport's reader
// thread, where the host's callback may call in again. The transport pointer is swapped under
// a short lock and each operation works on its own reference to it, so a transport released
// while another thread uses it is destroyed only when that use ends, and never on its own
// reader thread (see TransportReaper). The fields the exported functions read are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/PenDataKey.h"
#include "image/ZELTabletImage.h"
#include "tablet/ComPortMap.h"
#include "tablet/HostSettings.h"
#include "tablet/PadModels.h"
#include "tablet/TabletCapabilities.h"
#include "tablet/TabletInformation.h"
#include "tablet/TabletStatus.h"
#include "tablet/TransportReaper.h"
#include "transport/Interface.h"
#include "transport/InterfaceListener.h"
#include "zeltablet/ZELTabletCore.h"

#ifndef ZEL_PAD_VENDOR_ID
#error "ZEL_PAD_VENDOR_ID must be defined by the build"
#endif

namespace zel {

// USB vendor ID of the pads (a build constant).
constexpr uint16_t PAD_VENDOR_ID = ZEL_PAD_VENDOR_ID;

class ZELTablet : public InterfaceListener {
  public:
    // The step that hands one pen record to the host's callbacks (onCDllReceive for the
    // process-wide pad, its own session's for a pad handle).
    using Delivery = std::function<int(PenData* record)>;

    static constexpr uint32_t maxDeviceEntries = 10;
    static constexpr uint32_t modelCount = padModelCount;
    static constexpr uint32_t imageIntervalMs = 600;
    static constexpr uint32_t clearPauseMs = 100;
    static constexpr uint32_t penMessage = ZEL_PEN_MESSAGE;

    // Product ID for model selector 1..4; 0 outside.
    static uint32_t productIdForSelector(int32_t modelSelector);

    explicit ZELTablet(Delivery delivery = nullptr);
    ZELTablet(const ZELTablet&) = delete;
    ZELTablet& operator=(const ZELTablet&) = delete;

    // ---- listener contract and the tablet's own virtual operations, in slot order ----
    // One decoded record from the reader thread: delivered to the host (filtered by capture
    // mode in the delivery step), then announced to notifyWindow. Records from a transport
    // that has been released in the meantime are dropped.
    void onPenData(PenData& record) override;
    // The feature reports a pad answers a GET_REPORT with: 0x03, 0x08, 0x09, 0x0A, 0x13,
    // 0x14, 0x1A, 0x1B, 0x21, 0x22, and the colour pad's pen properties, clear-screen colour
    // and backlight (0x28, 0x29, 0x2B). The serial transport takes only these as answers.
    bool isFeatureReport(uint8_t reportId) override;
    // With this tablet's own pen-data key (see agreePenDataKey).
    bool decryptPenBlock(uint8_t block[16]) override;
    virtual ~ZELTablet();
    // The message of a status code as wide text, in a buffer the next call overwrites.
    virtual const wchar_t* errorText(uint32_t code);

    // ---- discovery and connection ----
    // Lists matching pads into `entries` (room for maxDeviceEntries) and sets *count. Ends any
    // connection. comPort != 0 lists nothing and succeeds. 0 when no pad matched or a probe
    // failed. Pads beyond the tenth match are counted but not probed or listed.
    // A pad another tablet has open (PadClaims) is listed with the identifier it gave then,
    // without being opened again. `paths`, when given, receives each listed pad's device path.
    int listDevices(ZELWindow window, uint32_t comPort, int32_t modelSelector, DeviceEntry* entries,
                    uint32_t* count, std::vector<std::string>* paths = nullptr);
    // comPort 0: the first HID pad of the selected models whose identifier is `uid` (0: any)
    // and that no other tablet has open. Otherwise the pad on that serial port (see
    // comPorts()).
    int connect(ZELWindow window, uint32_t comPort, int32_t modelSelector, uint32_t uid);

    enum class ConnectOutcome { connected, notFound, alreadyOpen, failed };
    // As connect, telling why it failed: no such pad (notFound), the pad asked for is open on
    // another tablet (alreadyOpen), or it could not be opened or did not answer (failed).
    // `path`, when given, names the HID pad to open (as listDevices gives it) in place of
    // the model and identifier.
    // `keepCaptureMode`: the capture mode stays as it is instead of starting at 1.
    ConnectOutcome connectHid(ZELWindow window, int32_t modelSelector, uint32_t uid,
                              const std::string* path, bool keepCaptureMode = false);

    // ---- coming back after an unplug ----
    // Which connection is current (0: none). A reconnection goes ahead only while the lost
    // connection is still the current one: a host that has connected or disconnected since
    // has decided for itself.
    uint64_t connectionNumber() const;
    // What a reconnection set again (ZEL_RESTORED_... bits) and what it could not.
    struct Restoration {
        uint32_t restored = 0;
        uint32_t failed = 0;
    };
    // Reopens the pad with identifier `uid` over HID in place of connection `lost`, keeping
    // the capture mode, the notification window and the callbacks, and sets again what the
    // host had set (HostSettings): inking mode, and on the models that have them pen,
    // backlight, clear colour, area and time count; when a key was in use, a new key
    // agreement in the same group (the pad lost its key with its power). The old connection's
    // reader has ended before the new one reads, so no sample of the two is mixed or
    // repeated. notFound when `lost` is no longer current.
    ConnectOutcome reconnect(uint32_t uid, uint64_t lost, Restoration* restoration);
    // The device path of the current connection ("" for none) and the identifier its pad gave
    // when connected over HID (0 otherwise).
    std::string devicePath() const;
    uint32_t connectedUid() const;
    // Whether the caller runs on the current connection's reader thread (in a pen callback).
    bool onReaderThread() const;
    // Releases the transport.
    void disconnect();
    // True when a transport is open and the pad answers its information report. Inside a pen
    // callback on a serial link the pad cannot be asked (its answer would arrive on this very
    // thread); there the sample in hand is taken as proof and an open, reading link passes.
    bool isConnected();
    // Device path of the HID pad this tablet is connected to (also after the pad has gone,
    // until the connection is ended); empty without a HID connection.
    std::string connectedHidPath() const;

    // ---- identity ----
    int getInformation(TabletInformation* out, uint32_t* status = nullptr);
    int getUid(uint32_t* uid, uint32_t* status = nullptr);

    // ---- the command set ----
    int getStatus(TabletStatus* out, uint32_t* status = nullptr);
    int getCapabilities(TabletCapabilities* out, uint32_t* status = nullptr);
    // Writes the four bytes in memory order: pass a value's bytes most significant first.
    int setUid(const uint8_t bytes[4], uint32_t* status = nullptr);
    // 100 ms pause, report 0x20, 100 ms pause (the second one also after a failure).
    int clearScreen(uint32_t* status = nullptr);
    int setInkingMode(uint8_t mode, uint32_t* status = nullptr);
    int setPenProperties(uint32_t width, uint32_t colour, uint32_t* status = nullptr);
    int getPenProperties(uint32_t* width, uint32_t* colour, uint32_t* status = nullptr);
    int setClearScreenColour(uint32_t colour, uint32_t* status = nullptr);
    int getClearScreenColour(uint32_t* colour, uint32_t* status = nullptr);
    int setHandwritingArea(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom,
                           uint32_t* status = nullptr);
    int setBacklightBrightness(uint32_t level, uint32_t* status = nullptr);
    int getBacklightBrightness(uint32_t* level, uint32_t* status = nullptr);
    int enableTimecount(uint32_t* status = nullptr);
    int disableTimecount(uint32_t* status = nullptr);

    // ---- encrypted pen data ----
    // Agrees the key of encrypted pen reports (0x10) with the connected pad: the group
    // (prime 16 bytes and base 2 bytes, big-endian; both null with sizes 0 for the default
    // group), the host's and the pad's public keys (see PenKeyAgreement). *status receives 0
    // or the code of the failure (ErrorCodes.h); 1 on success.
    //
    // No report is decrypted with a key it was not made with: over HID the reader stops for
    // the agreement and is restarted after it (also after a failure, unless the connection
    // was released meanwhile); on a serial link, whose reader carries the pad's answers, the
    // pen reports that follow the pad's key change are held and decoded once the new key is
    // in place. When the agreement fails after the pad may have taken a new key, the host's
    // key is cleared and encrypted reports are dropped until an agreement succeeds, rather
    // than decrypted into wrong samples; a failure before that keeps the previous key, which
    // the pad also still uses.
    //
    // One agreement at a time; other operations may run meanwhile under the usual rules.
    // Refused on the reader thread (inside a pen callback), whose reports it would hold.
    int agreePenDataKey(const uint8_t* prime, uint32_t primeSize, const uint8_t* generator,
                        uint32_t generatorSize, uint32_t* status = nullptr);

    // ---- pacing of screen operations ----
    // Milliseconds still to wait before a screen clear or image upload may start: on pads
    // whose model keeps the image interval (all but 0xA1 and 0xA2, and an unknown one), what
    // is left of the 600 ms interval since lastImageClock at uptime `nowMs`, else 0. Never
    // more than the interval itself, whatever the two times.
    uint32_t imageIntervalWaitMs(uint64_t nowMs) const;
    // Sleeps out imageIntervalWaitMs(now), once the pad's model is known (model()).
    void waitImageInterval();
    // Records that a screen clear or image upload has just succeeded.
    void markImageDone();

    // ---- the pad's model ----
    // The connected pad's entry in the model table (PadModels.h), which decides the settings,
    // the picture format, the bulk route and the image interval. After a HID connection it is
    // the model of that connection's product ID, and serial connections keep it (a pad on a
    // serial line has no USB product ID). On a serial link with no HID connection before, the
    // pad is identified from its own information report (model string) and, when that does
    // not decide, its capabilities (screen size): asked once per connection, on the first
    // call that needs the model, from the host's thread. A pad that does not answer, or names
    // no known model, stays of unknown model for that connection.
    const PadModelInfo& model();

    // Serial port numbers to device paths.
    ComPortMap& comPorts() { return comPorts_; }

    // Sends one block over the colour pad's bulk image pipe (the image upload's bulk route).
    bool writeBulk(uint8_t* data, uint32_t length, uint32_t* status = nullptr);

    // ---- pictures ----
    // Puts a prepared image on the pad's screen: refused while the pad reports itself busy
    // (a status that cannot be read does not stop it); a start report carrying the encoding
    // (0x12 for colour through the bulk pipe a HID connection opened; a serial link has
    // none), the payload in one bulk write or in
    // 256-byte data reports of at most 253 bytes (252 for colour, so no pixel is split), a
    // 100 ms pause, the end report and another 100 ms. True when every step went out.
    bool uploadImage(const ZELTabletImage& image);

    // Waits until transports released on their own reader thread, or whose reader outlived
    // the stop's wait, have been destroyed.
    void drainReleased() { reaper_.drain(); }

    // How long a release waits for a transport's reader (Interface::readerStopTimeoutMs
    // unless changed; applies to transports created from then on). A reader still in a
    // callback after that is left to finish on its own: its transport is destroyed once it
    // has ended, and nothing it reads reaches the host any more.
    void setReaderStopTimeoutMs(uint32_t ms) {
        readerStopTimeoutMs_.store(ms, std::memory_order_relaxed);
    }

    // ---- fields, in their order; atomics because the reader thread and a host thread may
    // use them at the same time ----
    // Where pen notifications are posted (0: nowhere). Set by listDevices and connect.
    std::atomic<ZELWindow> notifyWindow{0};
    // 1 when the colour pad's bulk image pipe was opened at its HID connection. Serial
    // connections leave it as it was but never use it: a serial link has no bulk pipe.
    std::atomic<uint32_t> bulkPipeOpen{0};

  private:
    // A transport and how it reaches the pad.
    struct Link {
        std::shared_ptr<Interface> transport;
        bool serial = false;
        uint64_t connection = 0;  // which connect() made it; 0: none
        std::string path;         // a serial link's port, a HID link's device
        uint32_t uid = 0;         // the identifier a HID link's pad gave
        bool claimed = false;     // `path` is claimed for this tablet (PadClaims)
    };
    mutable std::mutex linkLock_;  // held only to copy or swap `transport`
    // The current transport, if any.
    Link transport;

  public:
    // 1: every sample reaches the host's callback; any other value: only samples with
    // pressure. 1 before any connection, so that a host reaching its pad only through a
    // serial port gets what a HID connection would give it.
    std::atomic<uint32_t> captureMode{1};
    // USB product ID from the last successful HID connection; before the first, the product
    // a serial link's pad identified itself as (see model()), or 0 while it is not known.
    // Product gated operations decide by its model-table entry (padModel()).
    std::atomic<uint32_t> productId{0};
    // platform::uptimeMs() when the last screen clear or image upload succeeded; 0 after a
    // HID connection (and before any). 64 bits: a 32-bit tick turns negative after 24.9 days
    // and wraps after 49.7, and either would make an interval read as days.
    std::atomic<uint64_t> lastImageClock{0};

  private:
    Link currentLink() const;
    // Identifies the pad of a serial link from its own answers (see model()).
    uint32_t identifySerialPad(Interface& link);
    // The transport to send on from this thread, or null: none, or a serial link asked from
    // its own reader thread, which alone can receive the answer.
    std::shared_ptr<Interface> usableTransport() const;
    // Makes `link` current and returns the previous one for the caller to drop outside the
    // lock.
    Link swapLink(Link link);
    // `reconnecting`: a connection follows at once (see onPenData).
    void releaseTransport(bool reconnecting = false);
    // Counts a released transport whose reader has not ended yet; connections made meanwhile
    // hold their pen reports until it has.
    // `passOnHeldReports`: a reconnection from the reader's own callback, whose held pen
    // reports go to the new connection.
    void awaitReaderEnd(Interface& released, bool passOnHeldReports);
    void releasedReaderEnded(Interface* passingOn);
    std::shared_ptr<Interface> adopt(std::unique_ptr<Interface> transport);
    // Destroys a transport, or hands it to the reaper when this is its own reader thread.
    void destroyTransport(Interface* transport);
    // A pad's bulk interface may be open to one handle at a time: a transport destroyed late
    // (by the reaper, or by another thread's last reference) may have kept a newer
    // connection's open from getting it. Once it is gone this opens it again for the current
    // connection.
    void restoreBulkPipe();

    // Reads the identifier report through `link` (also a transport being probed).
    static int readUid(Interface& link, uint32_t* uid, uint32_t* status);
    bool get(uint8_t* report, uint32_t length, uint32_t* status);
    bool set(uint8_t* report, uint32_t length, uint32_t* status);
    uint32_t runKeyAgreement(const uint8_t* prime, uint32_t primeSize, const uint8_t* generator,
                             uint32_t generatorSize);

    Delivery delivery_;
    std::atomic<uint32_t> readerStopTimeoutMs_{Interface::readerStopTimeoutMs};
    ComPortMap comPorts_;
    // The device instance ID the current connection's bulk pipe was opened for; guarded by
    // linkLock_.
    std::string bulkDeviceId_;
    // Whether any HID connection succeeded: from then on serial links keep its product.
    std::atomic<bool> hidConnected_{false};
    // Numbers the connections (guarded by linkLock_), and the serial connection whose pad has
    // been asked for its model (guarded by identifyLock_).
    uint64_t connections_ = 0;
    std::mutex identifyLock_;
    uint64_t identifiedConnection_ = 0;
    // Released transports whose reader still runs, and the transports made meanwhile, whose
    // pen reports are held until those readers have ended.
    std::mutex successionLock_;
    uint32_t endingReaders_ = 0;
    std::vector<std::weak_ptr<Interface>> heldSuccessors_;
    // One key agreement at a time on this tablet, and the key it agreed. The key stays across
    // disconnections: a pad that still encrypts after a reconnection is decrypted as before.
    std::mutex keyAgreementLock_;
    Encryption::PenDataKey penDataKey_;
    // The settings and key group the host's calls set, for a reconnection to set again.
    HostSettings hostSettings_;
    // Emptied by the destructor before the members go, so its place here is safe.
    TransportReaper reaper_{[this] { restoreBulkPipe(); }};
};

}  // namespace zel
