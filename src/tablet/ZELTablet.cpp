#include "tablet/ZELTablet.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "crypto/AES.h"
#include "crypto/DiffieHellman.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "platform/Platform.h"
#include "tablet/ErrorCodes.h"
#include "tablet/PadClaims.h"
#include "tablet/PenKeyAgreement.h"
#include "transport/HidInterface.h"
#include "transport/SerialInterface.h"

namespace zel {
namespace {

// Set on a reader thread whose transport a callback released to connect again: the rest of
// the report in hand still reaches the host. The reader ends after that report.
thread_local bool finishingReport = false;

// Feature reports of the command set: ID and full length, ID included.
namespace report {
constexpr uint8_t status = 0x03;
constexpr uint8_t information = 0x08;
constexpr uint8_t capabilities = 0x09;
constexpr uint8_t uid = 0x0A;
constexpr uint8_t clearScreen = 0x20;
constexpr uint8_t inkingMode = 0x21;
constexpr uint8_t penProperties = 0x28;
constexpr uint8_t clearScreenColour = 0x29;
constexpr uint8_t handwritingArea = 0x2A;
constexpr uint8_t backlight = 0x2B;
constexpr uint8_t timeCount = 0x32;
constexpr uint8_t startImage = 0x25;
constexpr uint8_t imageData = 0x26;
constexpr uint8_t endImage = 0x27;
}  // namespace report

namespace length {
constexpr uint32_t status = 5;
constexpr uint32_t information = 17;
constexpr uint32_t capabilities = 18;
constexpr uint32_t uid = 6;
constexpr uint32_t clearScreen = 2;
constexpr uint32_t inkingMode = 2;
constexpr uint32_t penProperties = 4;
constexpr uint32_t clearScreenColour = 3;
constexpr uint32_t handwritingArea = 9;
constexpr uint32_t backlight = 3;
constexpr uint32_t timeCount = 2;
constexpr uint32_t startImage = 2;
constexpr uint32_t imageData = 256;
constexpr uint32_t endImage = 2;
}  // namespace length

// Payload bytes one image-data report carries at most: 253, or 252 for 16-bit colour so
// that no pixel is split between two reports.
constexpr uint32_t imageBlock = 253;
constexpr uint32_t colourImageBlock = 252;
constexpr uint32_t imagePauseMs = 100;

// The model string occupies bytes 1..9 of the information report.
constexpr uint32_t modelStringBytes = 9;

uint16_t littleEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint16_t bigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void putLittleEndian16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

bool matchesSelector(const platform::HidDeviceInfo& info, int32_t modelSelector) {
    if (info.vendorId != PAD_VENDOR_ID) return false;
    if (modelSelector <= 0) return isKnownPadModel(info.productId);
    return info.productId == ZELTablet::productIdForSelector(modelSelector);
}

bool isPenReport(uint32_t reportId) {
    return reportId == penReport || reportId == encryptedPenReport || reportId == timedPenReport;
}

}  // namespace

uint32_t ZELTablet::productIdForSelector(int32_t modelSelector) {
    const PadModelInfo* model = padModelForSelector(modelSelector);
    return model != nullptr ? model->productId : 0;
}

ZELTablet::ZELTablet(Delivery delivery) : delivery_(std::move(delivery)) {}

ZELTablet::~ZELTablet() {
    releaseTransport();
    reaper_.drain();
}

// ---- transport ownership -------------------------------------------------------------------

ZELTablet::Link ZELTablet::currentLink() const {
    std::lock_guard<std::mutex> lock(linkLock_);
    return transport;
}

std::shared_ptr<Interface> ZELTablet::usableTransport() const {
    Link link = currentLink();
    if (!link.transport) return nullptr;
    if (link.serial && link.transport->onReaderThread()) return nullptr;
    return std::move(link.transport);
}

std::string ZELTablet::connectedHidPath() const {
    std::lock_guard<std::mutex> lock(linkLock_);
    return transport.transport && !transport.serial ? transport.path : std::string();
}

ZELTablet::Link ZELTablet::swapLink(Link link) {
    std::lock_guard<std::mutex> lock(linkLock_);
    std::swap(transport, link);
    return link;
}

void ZELTablet::releaseTransport(bool reconnecting) {
    // The old link is dropped here, outside the lock: destroying a transport joins its reader,
    // which may itself be waiting for the lock in onPenData.
    Link old = swapLink(Link{});
    if (old.claimed) PadClaims::instance().release(old.path, this);
    // Disconnecting after a reconnection in the same callback ends the report in hand too.
    if (!reconnecting) finishingReport = false;
    // On any thread but its own reader, the reader is stopped before the release returns, even
    // when another thread still holds the transport: from then on no sample of it reaches the
    // host. Its own reader (a callback that disconnects or reconnects) ends once the callback
    // returns, before it reads again: a report it took from the pad then would be lost to the
    // next connection. A reconnection lets it finish the report in hand (the second sample
    // of an encrypted report) first.
    if (!old.transport) return;
    if (old.transport->onReaderThread()) {
        old.transport->requestStop();
        if (reconnecting) finishingReport = true;
        awaitReaderEnd(*old.transport, reconnecting);
    } else {
        old.transport->stopReader();
        // Still in a callback after the wait (a host breaking the time limit): it delivers
        // nothing more, and the next connection's samples wait until that callback is over.
        if (!old.transport->readerFinished()) awaitReaderEnd(*old.transport, false);
    }
}

void ZELTablet::awaitReaderEnd(Interface& released, bool passOnHeldReports) {
    {
        std::lock_guard<std::mutex> lock(successionLock_);
        ++endingReaders_;
    }
    Interface* transport = &released;
    released.whenReaderEnds([this, transport, passOnHeldReports] {
        releasedReaderEnded(passOnHeldReports ? transport : nullptr);
    });
}

void ZELTablet::releasedReaderEnded(Interface* passingOn) {
    // Runs on the ended reader's thread (or the releasing one), while `passingOn` exists. No
    // pen gate is taken under successionLock_: a reader holds its gate in a callback that may
    // connect, which takes successionLock_.
    if (passingOn != nullptr) {
        // Pen reports the released reader held but did not hand out go to the connection that
        // replaced it, ahead of its own: they came from the pad first. Only a connection that
        // is still held has delivered nothing yet, and it stays held while this reader counts.
        std::shared_ptr<Interface> current = currentLink().transport;
        bool held = false;
        {
            std::lock_guard<std::mutex> lock(successionLock_);
            for (const std::weak_ptr<Interface>& successor : heldSuccessors_)
                held = held || (current && !successor.owner_before(current) &&
                                !current.owner_before(successor));
        }
        if (held) current->prependHeldReports(passingOn->takeHeldReports());
    }
    std::vector<std::shared_ptr<Interface>> lift;
    {
        std::lock_guard<std::mutex> lock(successionLock_);
        if (--endingReaders_ != 0) return;
        for (const std::weak_ptr<Interface>& successor : heldSuccessors_)
            if (std::shared_ptr<Interface> transport = successor.lock()) lift.push_back(transport);
        heldSuccessors_.clear();
    }
    for (const std::shared_ptr<Interface>& transport : lift)
        transport->holdPenReports(false);
}

void ZELTablet::destroyTransport(Interface* transport) {
    // A reader that is still running (on this very thread, or stuck in a callback that
    // overran the stop's wait) uses the object until it ends: the reaper waits for that.
    if (transport->onReaderThread() || !transport->readerFinished()) {
        reaper_.retire(std::unique_ptr<Interface>(transport));
        return;
    }
    delete transport;
    restoreBulkPipe();
}

void ZELTablet::restoreBulkPipe() {
    Link link;
    std::string deviceId;
    {
        std::lock_guard<std::mutex> lock(linkLock_);
        link = transport;
        deviceId = bulkDeviceId_;
    }
    if (!link.transport || link.serial || deviceId.empty() ||
        bulkPipeOpen.load(std::memory_order_acquire) == 0)
        return;
    link.transport->openBulk(deviceId.c_str());
}

bool ZELTablet::writeBulk(uint8_t* data, uint32_t length, uint32_t* status) {
    std::shared_ptr<Interface> link = usableTransport();
    return link && link->writeBulk(data, length, status);
}

std::shared_ptr<Interface> ZELTablet::adopt(std::unique_ptr<Interface> transport) {
    transport->setStopTimeoutMs(readerStopTimeoutMs_.load(std::memory_order_relaxed));
    std::shared_ptr<Interface> adopted(transport.release(),
                                       [this](Interface* released) { destroyTransport(released); });
    // While a released reader still runs a callback (or finishes its report), the new one
    // keeps its pen reports: one callback at a time, in order. Its reader has not started, so
    // holding costs nothing; it is taken outside successionLock_ (see releasedReaderEnded).
    adopted->holdPenReports(true);
    bool wanted = false;
    {
        std::lock_guard<std::mutex> lock(successionLock_);
        if (endingReaders_ > 0) {
            heldSuccessors_.push_back(adopted);
            wanted = true;
        }
    }
    if (!wanted) adopted->holdPenReports(false);
    return adopted;
}

bool ZELTablet::get(uint8_t* report, uint32_t length, uint32_t* status) {
    std::shared_ptr<Interface> link = usableTransport();
    return link && link->getFeature(report, length, status);
}

bool ZELTablet::set(uint8_t* report, uint32_t length, uint32_t* status) {
    std::shared_ptr<Interface> link = usableTransport();
    return link && link->setFeature(report, length, status);
}

// ---- listener contract ---------------------------------------------------------------------

void ZELTablet::onPenData(PenData& record) {
    {
        // A released transport's reader may still finish the report it was decoding; what it
        // reads no longer belongs to the host's connection, except the rest of a report whose
        // callback reconnected.
        Link link = currentLink();
        if ((!link.transport || !link.transport->onReaderThread()) && !finishingReport) return;
    }
    if (delivery_) delivery_(&record);
    // Announced whatever the capture-mode filter did with the sample.
    const ZELWindow window = notifyWindow.load(std::memory_order_acquire);
    if (window != 0 && isPenReport(record.reportId))
        platform::postNotification(window, penMessage, record.reportId, 0);
}

bool ZELTablet::isFeatureReport(uint8_t reportId) {
    switch (reportId) {
        case 0x03:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x13:
        case 0x14:
        case 0x1A:
        case 0x1B:
        case 0x21:
        case 0x22:
        case 0x28:
        case 0x29:
        case 0x2B:
            return true;
        default:
            return false;
    }
}

bool ZELTablet::decryptPenBlock(uint8_t block[16]) {
    return penDataKey_.decrypt(block);
}

const wchar_t* ZELTablet::errorText(uint32_t code) {
    return zel::errorText(code);
}

// ---- discovery and connection --------------------------------------------------------------

int ZELTablet::listDevices(ZELWindow window, uint32_t comPort, int32_t modelSelector,
                           DeviceEntry* entries, uint32_t* count, std::vector<std::string>* paths) {
    notifyWindow.store(window, std::memory_order_release);
    releaseTransport();
    if (count != nullptr) *count = 0;
    if (comPort != 0) return 1;  // pads on serial ports are not listed

    std::shared_ptr<Interface> probe = adopt(std::make_unique<HidInterface>(this));
    swapLink(Link{probe, false, 0, {}});

    std::vector<platform::HidDeviceInfo> found;
    if (!platform::hidSystem().enumerate(found)) return 0;
    uint32_t listed = 0;
    bool matched = false;
    for (const platform::HidDeviceInfo& info : found) {
        if (!info.attributesRead) return 0;
        if (!matchesSelector(info, modelSelector)) continue;
        matched = true;
        // The caller's list has room for ten; further pads are skipped rather than failing
        // the whole listing, so a host with many pads still sees the first ten.
        if (listed == maxDeviceEntries || entries == nullptr) continue;
        // A pad another tablet drives is not opened again: its commands and samples are
        // that tablet's.
        uint32_t heldUid = 0;
        if (PadClaims::instance().heldByOther(info.path, this, &heldUid)) {
            entries[listed] = DeviceEntry{info.vendorId, info.productId, heldUid};
            ++listed;
            if (count != nullptr) *count = listed;
            if (paths != nullptr) paths->push_back(info.path);
            continue;
        }
        if (!probe->open(info.path.c_str())) return 0;
        if (!probe->startReader()) return 0;
        uint32_t uid = 0;
        if (!readUid(*probe, &uid, nullptr)) {
            probe->stopReader();
            probe->close();
            return 0;
        }
        entries[listed] = DeviceEntry{info.vendorId, info.productId, uid};
        ++listed;
        if (count != nullptr) *count = listed;
        if (paths != nullptr) paths->push_back(info.path);
        probe->stopReader();
        probe->close();
    }
    return matched ? 1 : 0;
}

int ZELTablet::connect(ZELWindow window, uint32_t comPort, int32_t modelSelector, uint32_t uid) {
    if (comPort == 0)
        return connectHid(window, modelSelector, uid, nullptr) == ConnectOutcome::connected ? 1 : 0;
    notifyWindow.store(window, std::memory_order_release);
    const Link previous = currentLink();
    releaseTransport(true);

    uint64_t connection = 0;
    {
        std::lock_guard<std::mutex> lock(linkLock_);
        connection = ++connections_;
    }
    {
        // The serial branch leaves the product-dependent fields as the last HID connection set
        // them. Before any HID connection the pad on the line is a new one, of unknown model
        // until it identifies itself (model()).
        if (!hidConnected_.load(std::memory_order_acquire))
            productId.store(0, std::memory_order_release);
        const std::string path = comPorts_.path(comPort);
        auto line = std::make_unique<SerialInterface>(this);
        // Reconnecting to the same port from inside a callback of that line: the new
        // connection goes on with the open line rather than closing and reopening it, which
        // would lose what the pad sent meanwhile (and an exclusive port could not reopen while
        // the old reader, this thread, still holds it).
        const bool sameLine =
            previous.transport && previous.serial && previous.path == path &&
            previous.transport->onReaderThread() &&
            line->takeOverLine(static_cast<SerialInterface&>(*previous.transport));
        std::shared_ptr<Interface> serial = adopt(std::move(line));
        if (!PadClaims::instance().claim(path, this, 0)) {
            swapLink(Link{});
            return 0;  // another tablet drives the pad on this line
        }
        swapLink(Link{serial, true, connection, path, 0, true});
        if (!sameLine && !serial->open(path.c_str())) return 0;
        return serial->startReader() ? 1 : 0;
    }
}

ZELTablet::ConnectOutcome ZELTablet::connectHid(ZELWindow window, int32_t modelSelector,
                                                uint32_t uid, const std::string* path,
                                                bool keepCaptureMode) {
    notifyWindow.store(window, std::memory_order_release);
    releaseTransport(true);
    uint64_t connection = 0;
    {
        std::lock_guard<std::mutex> lock(linkLock_);
        connection = ++connections_;
    }
    std::shared_ptr<Interface> hid = adopt(std::make_unique<HidInterface>(this));
    swapLink(Link{hid, false, connection, {}});
    std::vector<platform::HidDeviceInfo> found;
    if (!platform::hidSystem().enumerate(found)) return ConnectOutcome::failed;
    std::vector<std::string> presentPaths;
    for (const platform::HidDeviceInfo& info : found)
        presentPaths.push_back(info.path);
    const platform::HidDeviceInfo* selected = nullptr;
    uint32_t selectedUid = 0;
    ConnectOutcome missing = ConnectOutcome::notFound;
    for (const platform::HidDeviceInfo& info : found) {
        if (!info.attributesRead) return ConnectOutcome::failed;
        if (path != nullptr ? info.path != *path : !matchesSelector(info, modelSelector)) continue;
        if (path != nullptr && !matchesSelector(info, 0)) return ConnectOutcome::notFound;
        // A pad another tablet drives is skipped without opening it; asked for by its
        // identifier or path, it is refused.
        uint32_t heldUid = 0;
        if (PadClaims::instance().heldByOther(info.path, this, &heldUid)) {
            if (path != nullptr || (uid != 0 && heldUid == uid)) return ConnectOutcome::alreadyOpen;
            continue;
        }
        if (!hid->open(info.path.c_str())) return ConnectOutcome::failed;
        if (!hid->startReader()) return ConnectOutcome::failed;
        uint32_t padUid = 0;
        if (!readUid(*hid, &padUid, nullptr)) {
            hid->stopReader();
            hid->close();
            return ConnectOutcome::failed;
        }
        if (uid == 0 || uid == padUid || path != nullptr) {
            // A pad that left another tablet and came back under a new path is still that
            // tablet's (it may be reconnecting to it).
            if (PadClaims::instance().lostPadHeldByOther(padUid, this, presentPaths)) {
                hid->stopReader();
                hid->close();
                if (path != nullptr || uid != 0) return ConnectOutcome::alreadyOpen;
                continue;
            }
            // Two tablets opening the same pad at once: the first claim wins.
            if (PadClaims::instance().claim(info.path, this, padUid)) {
                selected = &info;
                selectedUid = padUid;
                break;
            }
            if (path != nullptr || uid != 0) missing = ConnectOutcome::alreadyOpen;
        }
        hid->stopReader();
        hid->close();
        if (missing == ConnectOutcome::alreadyOpen) return missing;
    }
    if (selected == nullptr) return missing;
    {
        std::lock_guard<std::mutex> lock(linkLock_);
        if (transport.transport == hid) {
            transport.path = selected->path;
            transport.uid = selectedUid;
            transport.claimed = true;
        } else {
            // Released meanwhile by another thread: the claim goes with it.
            PadClaims::instance().release(selected->path, this);
            return ConnectOutcome::failed;
        }
    }

    // On Linux the seam already reports the USB device above a composite device's interface
    // node, which is the device instance ID the bulk pipe is looked up by. It is a sysfs path
    // and is not cut to any length.
    const std::string& deviceInstanceId = selected->usbDeviceId;
    if (!keepCaptureMode) captureMode.store(1, std::memory_order_release);
    bulkPipeOpen.store(0, std::memory_order_release);
    if (padModel(selected->productId).bulkPipe && !deviceInstanceId.empty() &&
        hid->openBulk(deviceInstanceId.c_str())) {
        {
            std::lock_guard<std::mutex> lock(linkLock_);
            bulkDeviceId_ = deviceInstanceId;
        }
        bulkPipeOpen.store(1, std::memory_order_release);
    }
    productId.store(selected->productId, std::memory_order_release);
    hidConnected_.store(true, std::memory_order_release);
    lastImageClock.store(0, std::memory_order_release);
    return ConnectOutcome::connected;
}

std::string ZELTablet::devicePath() const {
    return currentLink().path;
}

uint32_t ZELTablet::connectedUid() const {
    return currentLink().uid;
}

uint64_t ZELTablet::connectionNumber() const {
    const Link link = currentLink();
    return link.transport ? link.connection : 0;
}

ZELTablet::ConnectOutcome ZELTablet::reconnect(uint32_t uid, uint64_t lost,
                                               Restoration* restoration) {
    Restoration done;
    if (lost == 0 || connectionNumber() != lost) return ConnectOutcome::notFound;
    const HostSettings::Values settings = hostSettings_.values();
    const ConnectOutcome outcome =
        connectHid(notifyWindow.load(std::memory_order_acquire), 0, uid, nullptr, true);
    if (outcome != ConnectOutcome::connected) return outcome;
    done.restored |= ZEL_RESTORED_CAPTURE;
    const auto restore = [&done](bool wanted, uint32_t bit, bool succeeded) {
        if (wanted) (succeeded ? done.restored : done.failed) |= bit;
    };
    if (settings.hasInkingMode)
        restore(true, ZEL_RESTORED_INKING, setInkingMode(settings.inkingMode) != 0);
    if (model().extendedSettings) {
        if (settings.hasPen)
            restore(true, ZEL_RESTORED_PEN,
                    setPenProperties(settings.penWidth, settings.penColour) != 0);
        if (settings.hasBacklight)
            restore(true, ZEL_RESTORED_BACKLIGHT, setBacklightBrightness(settings.backlight) != 0);
        if (settings.hasClearColour)
            restore(true, ZEL_RESTORED_CLEAR_COLOUR,
                    setClearScreenColour(settings.clearColour) != 0);
        if (settings.hasArea)
            restore(true, ZEL_RESTORED_AREA,
                    setHandwritingArea(settings.area[0], settings.area[1], settings.area[2],
                                       settings.area[3]) != 0);
        if (settings.hasTimeCount)
            restore(true, ZEL_RESTORED_TIME_COUNT,
                    (settings.timeCount ? enableTimecount() : disableTimecount()) != 0);
    }
    if (settings.hasKey) {
        uint32_t code = 0;
        agreePenDataKey(settings.prime.data(), static_cast<uint32_t>(settings.prime.size()),
                        settings.generator.data(), static_cast<uint32_t>(settings.generator.size()),
                        &code);
        restore(true, ZEL_RESTORED_KEY, code == 0);
    }
    if (restoration != nullptr) *restoration = done;
    return ConnectOutcome::connected;
}

bool ZELTablet::onReaderThread() const {
    const Link link = currentLink();
    return link.transport && link.transport->onReaderThread();
}

void ZELTablet::disconnect() {
    releaseTransport();
}

bool ZELTablet::isConnected() {
    Link link = currentLink();
    if (!link.transport || !link.transport->isOpen()) return false;
    if (link.serial && link.transport->onReaderThread()) return link.transport->isReading();
    TabletInformation information;
    return getInformation(&information) != 0;
}

// ---- the pad's model ---------------------------------------------------------------------

const PadModelInfo& ZELTablet::model() {
    const Link link = currentLink();
    if (link.transport && link.serial && !hidConnected_.load(std::memory_order_acquire) &&
        !link.transport->onReaderThread()) {
        std::lock_guard<std::mutex> lock(identifyLock_);
        if (identifiedConnection_ != link.connection) {
            identifiedConnection_ = link.connection;
            const uint32_t identified = identifySerialPad(*link.transport);
            // A newer connection made meanwhile (another thread's connect) has its own pad.
            if (currentLink().connection == link.connection)
                productId.store(identified, std::memory_order_release);
        }
    }
    return padModel(productId.load(std::memory_order_acquire));
}

uint32_t ZELTablet::identifySerialPad(Interface& link) {
    uint8_t information[length::information] = {report::information};
    if (!link.getFeature(information, sizeof information, nullptr)) return 0;
    const PadModelInfo& named =
        identifyPadModel(reinterpret_cast<const char*>(information + 1), modelStringBytes, nullptr);
    if (named.productId != 0) return named.productId;
    uint8_t capabilities[length::capabilities] = {report::capabilities};
    if (!link.getFeature(capabilities, sizeof capabilities, nullptr)) return 0;
    const ScreenSize screen{bigEndian16(capabilities + 7), bigEndian16(capabilities + 9)};
    return identifyPadModel(nullptr, 0, &screen).productId;
}

// ---- identity ------------------------------------------------------------------------------

// The model string is taken one byte per wide character (the pads send plain ASCII; a byte
// above 0x7F keeps its value), up to its terminator or the ninth byte, and cut to the seven
// characters that fit with the terminator.
int ZELTablet::getInformation(TabletInformation* out, uint32_t* status) {
    uint8_t reply[length::information] = {report::information};
    if (out == nullptr || !get(reply, sizeof reply, status)) return 0;
    TabletInformation information;
    information.reportId = report::information;
    for (uint32_t i = 0; i < modelStringBytes && i + 1 < TabletInformation::modelNameLength; ++i) {
        const uint8_t byte = reply[1 + i];
        if (byte == 0) break;
        information.modelName[i] = static_cast<wchar_t>(byte);
    }
    for (uint32_t i = 0; i < TabletInformation::valueCount; ++i)
        information.values[i] = reply[10 + i];
    *out = information;
    return 1;
}

int ZELTablet::getUid(uint32_t* uid, uint32_t* status) {
    std::shared_ptr<Interface> link = usableTransport();
    return link ? readUid(*link, uid, status) : 0;
}

int ZELTablet::readUid(Interface& link, uint32_t* uid, uint32_t* status) {
    uint8_t reply[length::uid] = {report::uid};
    if (uid == nullptr || !link.getFeature(reply, sizeof reply, status)) return 0;
    *uid = static_cast<uint32_t>(reply[1]) << 24 | static_cast<uint32_t>(reply[2]) << 16 |
           static_cast<uint32_t>(reply[3]) << 8 | reply[4];
    return 1;
}

// ---- the command set -----------------------------------------------------------------------

int ZELTablet::getStatus(TabletStatus* out, uint32_t* status) {
    uint8_t reply[length::status] = {report::status};
    if (out == nullptr || !get(reply, sizeof reply, status)) return 0;
    out->statusCode = reply[1];
    out->lastResultCode = reply[2];
    out->statusWord = littleEndian16(reply + 3);
    return 1;
}

int ZELTablet::getCapabilities(TabletCapabilities* out, uint32_t* status) {
    uint8_t reply[length::capabilities] = {report::capabilities};
    if (out == nullptr || !get(reply, sizeof reply, status)) return 0;
    out->reportId = report::capabilities;
    out->capability1 = bigEndian16(reply + 1);
    out->capability2 = bigEndian16(reply + 3);
    out->capability3 = bigEndian16(reply + 5);
    out->screenWidth = bigEndian16(reply + 7);
    out->screenHeight = bigEndian16(reply + 9);
    return 1;
}

int ZELTablet::setUid(const uint8_t bytes[4], uint32_t* status) {
    if (bytes == nullptr) return 0;
    uint8_t request[length::uid] = {report::uid, bytes[0], bytes[1], bytes[2], bytes[3], 0};
    return set(request, sizeof request, status) ? 1 : 0;
}

int ZELTablet::clearScreen(uint32_t* status) {
    platform::sleepMs(clearPauseMs);
    uint8_t request[length::clearScreen] = {report::clearScreen, 0};
    const bool sent = set(request, sizeof request, status);
    platform::sleepMs(clearPauseMs);
    return sent ? 1 : 0;
}

int ZELTablet::setInkingMode(uint8_t mode, uint32_t* status) {
    uint8_t request[length::inkingMode] = {report::inkingMode, mode};
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.inkingMode(mode);
    return 1;
}

int ZELTablet::setPenProperties(uint32_t width, uint32_t colour, uint32_t* status) {
    uint8_t request[length::penProperties] = {report::penProperties};
    putLittleEndian16(request + 1, colour);
    request[3] = static_cast<uint8_t>(width);
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.pen(width, colour);
    return 1;
}

int ZELTablet::getPenProperties(uint32_t* width, uint32_t* colour, uint32_t* status) {
    uint8_t reply[length::penProperties] = {report::penProperties};
    if (width == nullptr || colour == nullptr || !get(reply, sizeof reply, status)) return 0;
    *colour = littleEndian16(reply + 1);
    *width = reply[3];
    return 1;
}

int ZELTablet::setClearScreenColour(uint32_t colour, uint32_t* status) {
    uint8_t request[length::clearScreenColour] = {report::clearScreenColour};
    putLittleEndian16(request + 1, colour);
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.clearColour(colour);
    return 1;
}

int ZELTablet::getClearScreenColour(uint32_t* colour, uint32_t* status) {
    uint8_t reply[length::clearScreenColour] = {report::clearScreenColour};
    if (colour == nullptr || !get(reply, sizeof reply, status)) return 0;
    *colour = littleEndian16(reply + 1);
    return 1;
}

int ZELTablet::setHandwritingArea(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom,
                                  uint32_t* status) {
    uint8_t request[length::handwritingArea] = {report::handwritingArea};
    putLittleEndian16(request + 1, left);
    putLittleEndian16(request + 3, top);
    putLittleEndian16(request + 5, right);
    putLittleEndian16(request + 7, bottom);
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.area(left, top, right, bottom);
    return 1;
}

int ZELTablet::setBacklightBrightness(uint32_t level, uint32_t* status) {
    uint8_t request[length::backlight] = {report::backlight};
    putLittleEndian16(request + 1, level);
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.backlight(level);
    return 1;
}

int ZELTablet::getBacklightBrightness(uint32_t* level, uint32_t* status) {
    uint8_t reply[length::backlight] = {report::backlight};
    if (level == nullptr || !get(reply, sizeof reply, status)) return 0;
    *level = littleEndian16(reply + 1);
    return 1;
}

int ZELTablet::enableTimecount(uint32_t* status) {
    uint8_t request[length::timeCount] = {report::timeCount, 1};
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.timeCount(true);
    return 1;
}

int ZELTablet::disableTimecount(uint32_t* status) {
    uint8_t request[length::timeCount] = {report::timeCount, 0};
    if (!set(request, sizeof request, status)) return 0;
    hostSettings_.timeCount(false);
    return 1;
}

// ---- encrypted pen data --------------------------------------------------------------------

int ZELTablet::agreePenDataKey(const uint8_t* prime, uint32_t primeSize, const uint8_t* generator,
                               uint32_t generatorSize, uint32_t* status) {
    const uint32_t result = runKeyAgreement(prime, primeSize, generator, generatorSize);
    if (status != nullptr) *status = result;
    return result == 0 ? 1 : 0;
}

uint32_t ZELTablet::runKeyAgreement(const uint8_t* prime, uint32_t primeSize,
                                    const uint8_t* generator, uint32_t generatorSize) {
    using Encryption::DiffieHellman;
    uint8_t p[DiffieHellman::primeSize];
    uint8_t g[DiffieHellman::generatorSize];
    if (prime == nullptr && primeSize == 0 && generator == nullptr && generatorSize == 0) {
        DiffieHellman::defaultParameters(p, g);
    } else if (prime == nullptr || generator == nullptr || primeSize != sizeof p ||
               generatorSize != sizeof g) {
        return status::keyBadParameters;
    } else {
        std::memcpy(p, prime, sizeof p);
        std::memcpy(g, generator, sizeof g);
    }

    Link link = currentLink();
    if (!link.transport || !link.transport->isOpen()) return status::keyNotConnected;
    // Checked before the lock: a callback must not wait for an agreement that waits for it.
    if (link.transport->onReaderThread()) return status::keyInCallback;
    std::lock_guard<std::mutex> one(keyAgreementLock_);

    // Reports under the old key must be decoded with it and those under the new one only once
    // the host has it. Over HID nothing is read meanwhile: the reader stops and the pad's
    // reports wait for it. A serial link needs its reader for the pad's answers, so there the
    // pen reports that follow the pad's change (it sends none between taking the host's key
    // and handing out its own) are held until the new key is in place.
    Interface& transport = *link.transport;
    PenKeyAgreement agreement(transport, link.serial);
    if (!link.serial) transport.stopReader();
    uint32_t result = agreement.offer(p, g);
    if (link.serial) transport.holdPenReports(true);
    if (result == 0) result = agreement.receive();
    if (result == 0) result = agreement.finish(penDataKey_);
    // A key in use, or one the pad may have taken when the agreement broke off (an unplug):
    // a reconnection agrees one again in this group.
    if (result == 0 || agreement.padMayHaveNewKey()) hostSettings_.keyGroup(p, g);
    if (agreement.padMayHaveNewKey()) penDataKey_.clearKey();
    if (link.serial) {
        transport.holdPenReports(false);
    } else {
        // Restarted only on the current connection: one released meanwhile stays stopped.
        std::lock_guard<std::mutex> lock(linkLock_);
        if (transport.isOpen() && this->transport.transport == link.transport) {
            if (!transport.startReader() && result == 0) result = status::keyNoAnswer;
        } else if (result == 0) {
            result = status::keyNotConnected;
        }
    }
    return result;
}

// ---- pacing --------------------------------------------------------------------------------

uint32_t ZELTablet::imageIntervalWaitMs(uint64_t nowMs) const {
    if (!padModel(productId.load(std::memory_order_acquire)).imageInterval) return 0;
    const uint64_t last = lastImageClock.load(std::memory_order_acquire);
    // The uptime never goes back; should a mark lie ahead of it all the same (another thread
    // marked between our reading the clock and the mark), the whole interval is still due.
    const uint64_t elapsed = nowMs >= last ? nowMs - last : 0;
    return elapsed >= imageIntervalMs ? 0 : static_cast<uint32_t>(imageIntervalMs - elapsed);
}

void ZELTablet::waitImageInterval() {
    model();
    const uint32_t wait = imageIntervalWaitMs(platform::uptimeMs());
    if (wait > 0) platform::sleepMs(wait);
}

void ZELTablet::markImageDone() {
    lastImageClock.store(platform::uptimeMs(), std::memory_order_release);
}

// ---- pictures ------------------------------------------------------------------------------

bool ZELTablet::uploadImage(const ZELTabletImage& image) {
    TabletStatus padStatus;
    if (getStatus(&padStatus) && padStatus.statusCode != STAT_READY) return false;

    // The bulk pipe belongs to a HID connection: a serial link has none, whatever the last HID
    // connection opened, and takes a colour picture as data reports.
    const bool bulk = !currentLink().serial && bulkPipeOpen.load(std::memory_order_acquire) != 0 &&
                      image.encoding == ENCODING_RGB565;
    uint8_t start[length::startImage] = {
        report::startImage,
        static_cast<uint8_t>(bulk ? image.encoding + ENCODING_BULK : image.encoding)};
    if (!set(start, sizeof start, nullptr)) return false;

    const std::vector<uint8_t>& payload = image.payload();
    const uint32_t size = static_cast<uint32_t>(payload.size());
    bool sent = true;
    if (bulk) {
        // The transport's bulk write only reads the block.
        if (!writeBulk(const_cast<uint8_t*>(payload.data()), size)) return false;
    } else {
        const uint32_t largest = image.encoding == ENCODING_RGB565 ? colourImageBlock : imageBlock;
        uint8_t data[length::imageData];
        for (uint32_t offset = 0; offset < size;) {
            const uint32_t block = std::min(largest, size - offset);
            std::memset(data, 0, sizeof data);  // the filler after the payload is zero
            data[0] = report::imageData;
            data[1] = static_cast<uint8_t>(block & 0xFF);
            data[2] = static_cast<uint8_t>(block >> 8);
            std::memcpy(data + 3, payload.data() + offset, block);
            if (!set(data, sizeof data, nullptr)) {
                sent = false;  // no more data, but the pad still gets its end report
                break;
            }
            platform::yieldThread();
            offset += block;
        }
    }
    platform::sleepMs(imagePauseMs);
    uint8_t end[length::endImage] = {report::endImage, 0};
    if (!set(end, sizeof end, nullptr)) return false;
    platform::sleepMs(imagePauseMs);
    return sent;
}

}  // namespace zel
