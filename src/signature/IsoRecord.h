// ISO/IEC 19794-7:2007 signature time series, full format, binary encoding: the record this
// library writes and a reader for records of other producers.
//
// What the writer puts in a record (the reader recovers the signature from it exactly, for
// every field the format carries):
//   - channels X, Y, T, F, S, each with a description;
//   - X, Y: pen units. y is flipped so that it grows upward. When the pad's largest
//     coordinate exceeds 32767 the values are shifted by -32768 to fit the signed channel.
//     min/max hold the device range in those stored units (widened to a sample that lies
//     beyond it), so pen x = x - min_x and pen y = max_y - y. The scaling is pen units per metre when the pad's active size is
//     known (and encodable), else left out;
//   - T: milliseconds since the first sample (scaling 1000) while the whole record fits
//     65,535 ms; a longer record uses 10 ms steps (scaling 100), then 100 ms (scaling 10);
//   - F: raw pressure levels, no scaling, min 0, max the pad's full pressure;
//   - S: 1 where the sample has pressure (pen contact), else 0.
//
// The format has no length field: a container (a file, a field, a package member) delimits
// one record. readIsoRecord reads exactly one record that fills the bytes it is given;
// readIsoRecords reads records written back to back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

// Bit positions of the channels in the record's inclusion field; descriptions and sample
// values appear from bit 15 down to bit 0.
enum IsoChannel : int {
    kIsoX = 15,
    kIsoY = 14,
    kIsoZ = 13,
    kIsoVX = 12,
    kIsoVY = 11,
    kIsoAX = 10,
    kIsoAY = 9,
    kIsoT = 8,
    kIsoDT = 7,
    kIsoF = 6,
    kIsoS = 5,
    kIsoTX = 4,
    kIsoTY = 3,
    kIsoAZ = 2,
    kIsoEL = 1,
    kIsoR = 0,
};

// The most sample points a record can count (3-byte field).
constexpr uint32_t kIsoMaxRecordSamples = 16777215;

// One channel as a record describes and carries it. Values are decoded: signed channels hold
// -32768..32767 (the stored offset of 32768 removed), the others their stored value.
struct IsoChannelData {
    bool present = false;
    uint8_t preamble = 0;
    std::optional<uint16_t> scaling;  // the stored word; decodeIsoScaling gives the value
    std::optional<int32_t> minimum;
    std::optional<int32_t> maximum;
    std::optional<int32_t> mean;
    std::optional<uint16_t> deviation;
    bool constant = false;
    std::vector<int32_t> values;  // one a sample point; empty for a constant channel
};

struct IsoRecordData {
    uint16_t inclusion = 0;
    std::array<IsoChannelData, 16> channels;  // indexed by IsoChannel
    uint32_t sampleCount = 0;
    bool hasExtendedData = false;
    std::vector<uint8_t> extendedData;
};

bool isoChannelSigned(int channel);

Status writeIsoRecord(const SignatureData& signature, std::vector<uint8_t>& record);

// Parses the record at the start of `bytes` and says how many bytes it took. Refuses a record
// it cannot read completely; never reads past `size`.
Status parseIsoRecord(const uint8_t* bytes, size_t size, IsoRecordData& record, size_t& consumed);

// The signature in a parsed record. `padOrNull` supplies what the record does not carry (the
// screen, model and identifier); the record's device range and scaling take precedence.
Status isoRecordToSignature(const IsoRecordData& record, const ZELSigPad* padOrNull,
                            SignatureData& out);

// Exactly one record filling `size` bytes, as a signature.
Status readIsoRecord(const uint8_t* bytes, size_t size, const ZELSigPad* padOrNull,
                     SignatureData& out);

// Records stored back to back, each as a signature.
Status readIsoRecords(const uint8_t* bytes, size_t size, const ZELSigPad* padOrNull,
                      std::vector<SignatureData>& out);

}  // namespace zelsig
