#include "signature/IsoRecord.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "signature/ContactPressure.h"
#include "signature/IsoScaling.h"

namespace zelsig {

namespace {

const uint8_t kFormatIdentifier[4] = {'S', 'D', 'I', 0};
const uint8_t kVersion2007[4] = {' ', '1', '0', 0};
const uint8_t kVersion2014[4] = {'0', '2', '0', 0};

const char* const kChannelNames[16] = {"R", "EL", "AZ", "TY", "TX", "S", "F", "DT",
                                       "T", "AY", "AX", "VY", "VX", "Z", "Y", "X"};

// Preamble bits of a channel description.
constexpr uint8_t kHasScaling = 0x80;
constexpr uint8_t kHasMinimum = 0x40;
constexpr uint8_t kHasMaximum = 0x20;
constexpr uint8_t kHasMean = 0x10;
constexpr uint8_t kHasDeviation = 0x08;
constexpr uint8_t kConstant = 0x04;
constexpr uint8_t kReservedPreambleBit = 0x01;

constexpr int32_t kSignedOffset = 32768;

Status formatError(std::string message) {
    return Status::fail(ZELSIG_ERROR_FORMAT, "ISO record: " + std::move(message));
}

// ---- Writing --------------------------------------------------------------------------------

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putSigned16(std::vector<uint8_t>& out, int64_t value) {
    put16(out, static_cast<uint32_t>(value + kSignedOffset));
}

// Pen coordinates 0..max go to the signed channel as they are when they fit, else shifted
// down by 32768 so that the pad's whole 16-bit range fits.
int64_t signedShiftFor(uint32_t maxCoordinate) {
    return maxCoordinate > 32767 ? kSignedOffset : 0;
}

struct TimeBase {
    uint16_t scalingWord;
    double msPerUnit;
};

// Milliseconds while the record's time span fits the 16-bit channel, else the finest of
// 10 ms and 100 ms steps that does.
Status chooseTimeBase(const std::vector<ZELSigSample>& samples, TimeBase& base) {
    double span = 0;
    const double first = samples.empty() ? 0 : samples.front().timeMs;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double since = samples[i].timeMs - first;
        if (!std::isfinite(since) || std::round(since) < 0)
            return Status::fail(ZELSIG_ERROR_ARGUMENT, "ISO record: sample " + std::to_string(i) +
                                                           " has a time before the first sample's");
        span = std::max(span, since);
    }
    const struct {
        double scaling;
        double msPerUnit;
    } bases[] = {{1000, 1}, {100, 10}, {10, 100}};
    for (const auto& candidate : bases) {
        if (std::round(span / candidate.msPerUnit) <= 65535) {
            base = {*encodeIsoScaling(candidate.scaling), candidate.msPerUnit};
            return Status::ok();
        }
    }
    return Status::fail(ZELSIG_ERROR_LIMIT, "ISO record: the capture lasts " +
                                                std::to_string(std::lround(span / 1000)) +
                                                " s; a record holds at most 6553 s");
}

// X or Y: scaling (pen units per metre) when the active size is known and encodable, and
// the device range.
void putCoordinateDescription(std::vector<uint8_t>& out, double mmPerUnit, bool sizeKnown,
                              int64_t isoMinimum, int64_t isoMaximum) {
    std::optional<uint16_t> scaling;
    if (sizeKnown && mmPerUnit > 0) scaling = encodeIsoScaling(1000.0 / mmPerUnit);
    out.push_back(static_cast<uint8_t>((scaling ? kHasScaling : 0) | kHasMinimum | kHasMaximum));
    if (scaling) put16(out, *scaling);
    putSigned16(out, isoMinimum);
    putSigned16(out, isoMaximum);
}

// ---- Reading --------------------------------------------------------------------------------

// Big-endian reads that never pass the end; the first failed read names what was missing.
class RecordCursor {
  public:
    RecordCursor(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    size_t offset() const { return offset_; }
    size_t remaining() const { return size_ - offset_; }

    bool read8(uint8_t& value) {
        if (remaining() < 1) return false;
        value = bytes_[offset_++];
        return true;
    }
    bool read16(uint16_t& value) {
        if (remaining() < 2) return false;
        value = static_cast<uint16_t>(bytes_[offset_] << 8 | bytes_[offset_ + 1]);
        offset_ += 2;
        return true;
    }
    bool read24(uint32_t& value) {
        if (remaining() < 3) return false;
        value = uint32_t{bytes_[offset_]} << 16 | uint32_t{bytes_[offset_ + 1]} << 8 |
                bytes_[offset_ + 2];
        offset_ += 3;
        return true;
    }
    bool readBytes(size_t count, const uint8_t*& start) {
        if (remaining() < count) return false;
        start = bytes_ + offset_;
        offset_ += count;
        return true;
    }

  private:
    const uint8_t* bytes_;
    size_t size_;
    size_t offset_ = 0;
};

Status truncatedAt(const RecordCursor& cursor, const std::string& what) {
    return formatError("ends at byte " + std::to_string(cursor.offset()) + " before " + what);
}

// How sample points are laid out. The standard layout stores S in one byte and leaves
// constant channels out; some producers store S in two bytes or store constant channels too.
// A record delimited by its container tells these apart by its length.
struct SampleLayout {
    int switchBytes = 1;
    bool constantsStored = false;
};

int32_t decodeValue(int channel, uint16_t stored) {
    return isoChannelSigned(channel) ? int32_t{stored} - kSignedOffset : int32_t{stored};
}

Status parseDescription(RecordCursor& cursor, int channel, IsoChannelData& data) {
    const std::string name = kChannelNames[channel];
    if (!cursor.read8(data.preamble)) return truncatedAt(cursor, "the description of " + name);
    if (data.preamble & kReservedPreambleBit)
        return formatError("the description of " + name + " sets the reserved bit");
    struct Field {
        uint8_t bit;
        const char* what;
    };
    const Field fields[] = {{kHasScaling, "scaling"},
                            {kHasMinimum, "minimum"},
                            {kHasMaximum, "maximum"},
                            {kHasMean, "mean"},
                            {kHasDeviation, "standard deviation"}};
    for (const Field& field : fields) {
        if (!(data.preamble & field.bit)) continue;
        uint16_t word = 0;
        if (!cursor.read16(word)) return truncatedAt(cursor, "the " + name + " " + field.what);
        switch (field.bit) {
            case kHasScaling:
                data.scaling = word;
                break;
            case kHasMinimum:
                data.minimum = decodeValue(channel, word);
                break;
            case kHasMaximum:
                data.maximum = decodeValue(channel, word);
                break;
            case kHasMean:
                data.mean = decodeValue(channel, word);
                break;
            default:
                data.deviation = word;
                break;  // always unsigned
        }
    }
    data.constant = (data.preamble & kConstant) != 0;
    return Status::ok();
}

Status parseWithLayout(const uint8_t* bytes, size_t size, const SampleLayout& layout,
                       IsoRecordData& record, size_t& consumed) {
    record = IsoRecordData{};
    RecordCursor cursor(bytes, size);
    const uint8_t* field = nullptr;
    if (!cursor.readBytes(4, field) || std::memcmp(field, kFormatIdentifier, 4) != 0)
        return formatError("does not start with the format identifier \"SDI\"");
    if (!cursor.readBytes(4, field)) return truncatedAt(cursor, "the version");
    if (std::memcmp(field, kVersion2014, 4) == 0)
        return formatError(
            "version \"020\" (the 2014 edition, a different layout) is not supported; only "
            "version \" 10\" (2007) is read");
    if (std::memcmp(field, kVersion2007, 4) != 0)
        return formatError("unknown version; only version \" 10\" (2007) is read");
    if (!cursor.read16(record.inclusion)) return truncatedAt(cursor, "the channel inclusion");

    const auto has = [&](int channel) { return (record.inclusion >> channel) & 1; };
    if (!has(kIsoX) || !has(kIsoY)) return formatError("has no X or no Y channel");
    if (has(kIsoT) && has(kIsoDT)) return formatError("has both T and DT channels");
    if (!has(kIsoT) && !has(kIsoDT)) return formatError("has no time channel (T or DT)");

    for (int channel = 15; channel >= 0; --channel) {
        if (!has(channel)) continue;
        IsoChannelData& data = record.channels[channel];
        data.present = true;
        Status status = parseDescription(cursor, channel, data);
        if (!status.isOk()) return status;
    }
    uint8_t reserved = 0, extendedFlag = 0;
    if (!cursor.read8(reserved)) return truncatedAt(cursor, "the end of the header");
    if (!cursor.read8(extendedFlag)) return truncatedAt(cursor, "the extended-data flag");
    record.hasExtendedData = extendedFlag != 0;
    if (!cursor.read24(record.sampleCount)) return truncatedAt(cursor, "the sample count");

    size_t pointSize = 0;
    for (int channel = 15; channel >= 0; --channel) {
        const IsoChannelData& data = record.channels[channel];
        if (!data.present || (data.constant && !layout.constantsStored)) continue;
        pointSize += channel == kIsoS ? layout.switchBytes : 2;
    }
    // Limits before anything is allocated: the count must fit what a signature holds and the
    // bytes that are there.
    if (record.sampleCount > ZELSIG_MAX_SAMPLES)
        return formatError("counts " + std::to_string(record.sampleCount) + " samples; at most " +
                           std::to_string(ZELSIG_MAX_SAMPLES) + " are read");
    // Sample points without a byte would let a few bytes stand for a million samples.
    if (pointSize == 0 && record.sampleCount > 0)
        return formatError("every channel is constant, yet " + std::to_string(record.sampleCount) +
                           " sample points are counted");
    if (uint64_t{record.sampleCount} * pointSize > cursor.remaining())
        return formatError("counts " + std::to_string(record.sampleCount) + " samples of " +
                           std::to_string(pointSize) + " bytes, but only " +
                           std::to_string(cursor.remaining()) + " bytes follow");

    for (int channel = 15; channel >= 0; --channel) {
        IsoChannelData& data = record.channels[channel];
        if (data.present && !data.constant) data.values.reserve(record.sampleCount);
    }
    for (uint32_t i = 0; i < record.sampleCount; ++i) {
        for (int channel = 15; channel >= 0; --channel) {
            IsoChannelData& data = record.channels[channel];
            if (!data.present || (data.constant && !layout.constantsStored)) continue;
            uint16_t word = 0;
            if (channel == kIsoS && layout.switchBytes == 1) {
                uint8_t byte = 0;
                cursor.read8(byte);  // the length was checked above
                word = byte;
            } else {
                cursor.read16(word);
            }
            if (channel == kIsoS && word > 1)
                return formatError("sample " + std::to_string(i) + " has tip switch S = " +
                                   std::to_string(word) + "; only 0 and 1 are defined");
            if (data.constant) continue;  // stored, but the description's value counts
            data.values.push_back(decodeValue(channel, word));
        }
    }
    if (record.hasExtendedData) {
        uint16_t length = 0;
        if (!cursor.read16(length)) return truncatedAt(cursor, "the extended-data length");
        const uint8_t* data = nullptr;
        if (!cursor.readBytes(length, data))
            return formatError("extended data of " + std::to_string(length) + " bytes, but only " +
                               std::to_string(cursor.remaining()) + " bytes follow");
        record.extendedData.assign(data, data + length);
    }
    consumed = cursor.offset();
    return Status::ok();
}

// A constant channel's value: its mean when given; else one unit for DT (a uniform sampling
// period given by the scaling alone), 0 for the others.
int32_t constantValue(const IsoChannelData& data, int channel) {
    if (data.mean) return *data.mean;
    return channel == kIsoDT ? 1 : 0;
}

int32_t valueAt(const IsoChannelData& data, int channel, size_t i) {
    return data.constant ? constantValue(data, channel) : data.values[i];
}

// The range pen coordinates are recovered in: the record's device range when it gives one,
// else the values' own extent; widened to every value, since values are never clipped.
struct AxisRange {
    int32_t low = 0;
    int32_t high = 0;
};

AxisRange axisRangeOf(const IsoChannelData& data, int channel, size_t count) {
    AxisRange range;
    bool any = false;
    for (size_t i = 0; i < count; ++i) {
        const int32_t value = valueAt(data, channel, i);
        range.low = any ? std::min(range.low, value) : value;
        range.high = any ? std::max(range.high, value) : value;
        any = true;
    }
    if (data.minimum && data.maximum && *data.minimum <= *data.maximum) {
        range.low = any ? std::min(range.low, *data.minimum) : *data.minimum;
        range.high = any ? std::max(range.high, *data.maximum) : *data.maximum;
    }
    return range;
}

// Active size in micrometres from pen units per metre: the pen range 0..max spans max + 1
// units, as in the library's pen space. 0 when it cannot be told.
uint32_t activeSizeUm(const IsoChannelData& data, uint32_t maxCoordinate) {
    if (!data.scaling || maxCoordinate == 0) return 0;
    const double micrometres = (maxCoordinate + 1.0) / decodeIsoScaling(*data.scaling) * 1e6;
    if (!(micrometres >= 1) || micrometres > 4e9) return 0;
    return static_cast<uint32_t>(std::lround(micrometres));
}

}  // namespace

bool isoChannelSigned(int channel) {
    switch (channel) {
        case kIsoX:
        case kIsoY:
        case kIsoVX:
        case kIsoVY:
        case kIsoAX:
        case kIsoAY:
        case kIsoTX:
        case kIsoTY:
            return true;
        default:
            return false;
    }
}

Status writeIsoRecord(const SignatureData& signature, std::vector<uint8_t>& record) {
    const std::vector<ZELSigSample>& samples = signature.samples;
    if (samples.size() > kIsoMaxRecordSamples)
        return Status::fail(ZELSIG_ERROR_LIMIT, "ISO record: " + std::to_string(samples.size()) +
                                                    " samples; a record holds at most " +
                                                    std::to_string(kIsoMaxRecordSamples));
    const PenSpace space = penSpaceOf(signature.pad);
    TimeBase time{};
    Status status = chooseTimeBase(samples, time);
    if (!status.isOk()) return status;

    // The device range, widened to any sample beyond it (a pad may report a little past its
    // stated range), so that no sample is clipped or refused while it fits 16 bits.
    uint32_t maxX = space.maxX, maxY = space.maxY, maxPressure = space.maxPressure;
    for (const ZELSigSample& sample : samples) {
        maxX = std::max(maxX, sample.pen.x);
        maxY = std::max(maxY, sample.pen.y);
        maxPressure = std::max(maxPressure, sample.pen.pressure);
    }
    if (maxX > 65535 || maxY > 65535 || maxPressure > 65535)
        return Status::fail(ZELSIG_ERROR_ARGUMENT,
                            "ISO record: a pen coordinate or pressure exceeds 16 bits");
    const int64_t shiftX = signedShiftFor(maxX);
    const int64_t shiftY = signedShiftFor(maxY);
    const int64_t isoMaxX = int64_t{maxX} - shiftX;
    const int64_t isoMaxY = int64_t{maxY} - shiftY;

    std::vector<uint8_t> out;
    out.reserve(34 + 4 + samples.size() * 9);
    out.insert(out.end(), kFormatIdentifier, kFormatIdentifier + 4);
    out.insert(out.end(), kVersion2007, kVersion2007 + 4);
    put16(out, 1u << kIsoX | 1u << kIsoY | 1u << kIsoT | 1u << kIsoF | 1u << kIsoS);
    putCoordinateDescription(out, space.mmPerUnitX, space.physicalSizeKnown, -shiftX, isoMaxX);
    putCoordinateDescription(out, space.mmPerUnitY, space.physicalSizeKnown, -shiftY, isoMaxY);
    out.push_back(kHasScaling);
    put16(out, time.scalingWord);
    out.push_back(kHasMinimum | kHasMaximum);
    put16(out, 0);
    put16(out, maxPressure);
    out.push_back(0);  // S: no description fields
    out.push_back(0);  // reserved
    out.push_back(0);  // no extended data
    out.push_back(static_cast<uint8_t>(samples.size() >> 16));
    put16(out, static_cast<uint32_t>(samples.size() & 0xFFFF));

    const double first = samples.empty() ? 0 : samples.front().timeMs;
    for (size_t i = 0; i < samples.size(); ++i) {
        const PenSample& pen = samples[i].pen;
        const int64_t x = int64_t{pen.x} - shiftX;
        const int64_t y = int64_t{maxY} - pen.y - shiftY;
        putSigned16(out, x);
        putSigned16(out, y);
        put16(out,
              static_cast<uint32_t>(std::lround((samples[i].timeMs - first) / time.msPerUnit)));
        put16(out, pen.pressure);
        // Contact is pressure > 0, as everywhere in the library.
        out.push_back(pen.pressure > 0 ? 1 : 0);
    }
    record = std::move(out);
    return Status::ok();
}

Status parseIsoRecord(const uint8_t* bytes, size_t size, IsoRecordData& record, size_t& consumed) {
    return parseWithLayout(bytes, size, SampleLayout{}, record, consumed);
}

Status isoRecordToSignature(const IsoRecordData& record, const ZELSigPad* padOrNull,
                            SignatureData& out) {
    const size_t count = record.sampleCount;
    const IsoChannelData& xs = record.channels[kIsoX];
    const IsoChannelData& ys = record.channels[kIsoY];
    const IsoChannelData& forces = record.channels[kIsoF];
    const IsoChannelData& switches = record.channels[kIsoS];
    const bool absoluteTime = record.channels[kIsoT].present;
    const IsoChannelData& times = record.channels[absoluteTime ? kIsoT : kIsoDT];
    if (!xs.present || !ys.present || !times.present)
        return formatError("has no X, Y or time channel");

    SignatureData signature;
    if (padOrNull) signature.pad = *padOrNull;
    Capabilities& capabilities = signature.pad.capabilities;
    const bool padKnown = padOrNull && capabilities.valid;

    const AxisRange rangeX = axisRangeOf(xs, kIsoX, count);
    const AxisRange rangeY = axisRangeOf(ys, kIsoY, count);
    const uint32_t maxX = static_cast<uint32_t>(rangeX.high - rangeX.low);
    const uint32_t maxY = static_cast<uint32_t>(rangeY.high - rangeY.low);

    uint32_t levels = padKnown ? capabilities.capability3 : 0;
    if (forces.present) {
        int32_t highest = forces.maximum ? *forces.maximum : 0;
        for (size_t i = 0; i < count; ++i)
            highest = std::max(highest, valueAt(forces, kIsoF, i));
        if (forces.maximum || static_cast<uint32_t>(highest) + 1 > levels)
            levels = static_cast<uint32_t>(highest) + 1;
    }
    if (!padKnown) {
        capabilities.screenWidth = 0;  // unknown: the library's fallback screen applies
        capabilities.screenHeight = 0;
    }
    capabilities.valid = 1;
    capabilities.capability1 = maxX;
    capabilities.capability2 = maxY;
    capabilities.capability3 = levels;
    if (const uint32_t width = activeSizeUm(xs, maxX)) signature.pad.activeWidthUm = width;
    if (const uint32_t height = activeSizeUm(ys, maxY)) signature.pad.activeHeightUm = height;
    const uint32_t maxPressure = penSpaceOf(signature.pad).maxPressure;

    // Without a scaling, time units are taken as milliseconds.
    const double msPerUnit = times.scaling ? 1000.0 / decodeIsoScaling(*times.scaling) : 1.0;
    signature.samples.resize(count);
    double elapsedMs = 0;
    for (size_t i = 0; i < count; ++i) {
        ZELSigSample& sample = signature.samples[i];
        sample.pen.x = static_cast<uint32_t>(valueAt(xs, kIsoX, i) - rangeX.low);
        sample.pen.y = static_cast<uint32_t>(rangeY.high - valueAt(ys, kIsoY, i));
        const double units = valueAt(times, absoluteTime ? kIsoT : kIsoDT, i);
        if (absoluteTime) {
            sample.timeMs = units * msPerUnit;
        } else {
            // The first sample has no previous one to be timed from: it starts the capture.
            if (i > 0) elapsedMs += units * msPerUnit;
            sample.timeMs = elapsedMs;
        }
        // Time never runs backwards in a signature: an earlier time stamp is the previous one.
        if (i > 0) sample.timeMs = std::max(sample.timeMs, signature.samples[i - 1].timeMs);
        std::optional<uint32_t> reading;
        if (forces.present) reading = static_cast<uint32_t>(valueAt(forces, kIsoF, i));
        // Contact from the tip switch; without one, from the force; without either the record
        // says nothing of contact and the whole trace is taken as written.
        bool contact = true;
        if (switches.present)
            contact = valueAt(switches, kIsoS, i) == 1;
        else if (reading)
            contact = *reading > 0;
        sample.pen.pressure = contactPressure(contact, reading, maxPressure);
        sample.pen.switches = contact ? 1 : 0;
        sample.pen.timeCount = 0;
    }
    out = std::move(signature);
    return Status::ok();
}

Status readIsoRecord(const uint8_t* bytes, size_t size, const ZELSigPad* padOrNull,
                     SignatureData& out) {
    if (!bytes && size > 0) return Status::fail(ZELSIG_ERROR_ARGUMENT, "ISO record: no bytes");
    IsoRecordData record;
    size_t consumed = 0;
    Status status = parseWithLayout(bytes, size, SampleLayout{}, record, consumed);
    if (status.isOk() && consumed != size)
        status = formatError("the record ends at byte " + std::to_string(consumed) + " but " +
                             std::to_string(size - consumed) +
                             " more bytes follow (one record is read at a time)");
    if (!status.isOk()) {
        // Producers that store S in two bytes, or constant channels in every sample point,
        // write longer records; the container's length tells. The standard layout's
        // complaint stands when none of them fits either.
        const SampleLayout variants[] = {{2, false}, {1, true}, {2, true}};
        bool matched = false;
        for (const SampleLayout& layout : variants) {
            IsoRecordData candidate;
            size_t candidateConsumed = 0;
            if (parseWithLayout(bytes, size, layout, candidate, candidateConsumed).isOk() &&
                candidateConsumed == size) {
                record = std::move(candidate);
                matched = true;
                break;
            }
        }
        if (!matched) return status;
    }
    return isoRecordToSignature(record, padOrNull, out);
}

Status readIsoRecords(const uint8_t* bytes, size_t size, const ZELSigPad* padOrNull,
                      std::vector<SignatureData>& out) {
    if (!bytes && size > 0) return Status::fail(ZELSIG_ERROR_ARGUMENT, "ISO record: no bytes");
    std::vector<SignatureData> signatures;
    size_t offset = 0;
    do {
        IsoRecordData record;
        SignatureData signature;
        size_t consumed = 0;
        Status status = parseIsoRecord(bytes + offset, size - offset, record, consumed);
        if (status.isOk()) status = isoRecordToSignature(record, padOrNull, signature);
        if (!status.isOk()) {
            status.message = "record " + std::to_string(signatures.size() + 1) + " at byte " +
                             std::to_string(offset) + ": " + status.message;
            return status;
        }
        signatures.push_back(std::move(signature));
        offset += consumed;
    } while (offset < size);
    out = std::move(signatures);
    return Status::ok();
}

}  // namespace zelsig
