#include "signature/EvidenceMetadata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

namespace zelsig {
namespace {

using Json = nlohmann::json;

constexpr const char* kFormatName = "zeltablet-evidence";
// The layout nests objects two deep; anything deeper is not ours and is refused before the
// parser builds it.
constexpr int kMaxNesting = 4;
constexpr size_t kMaxMembers = 16;
constexpr size_t kSha256HexLength = 64;

Status refuse(const std::string& why) {
    return Status::fail(ZELSIG_ERROR_PACKAGE, "metadata.json: " + why);
}

bool nestingWithin(const uint8_t* data, size_t size, int limit) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

bool isLowerHex(const std::string& text, size_t length) {
    return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Typed field readers: false when the field is absent, of another type or out of range.
bool getString(const Json& object, const char* key, size_t maxBytes, std::string& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return false;
    out = it->get<std::string>();
    return out.size() <= maxBytes;
}

bool getUnsigned(const Json& object, const char* key, uint64_t max, uint64_t& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) return false;
    out = it->get<uint64_t>();
    return out <= max;
}

bool getUint32(const Json& object, const char* key, uint32_t& out) {
    uint64_t value = 0;
    if (!getUnsigned(object, key, std::numeric_limits<uint32_t>::max(), value)) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool getBool(const Json& object, const char* key, bool& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return false;
    out = it->get<bool>();
    return true;
}

bool getObject(const Json& object, const char* key, const Json*& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_object()) return false;
    out = &*it;
    return true;
}

Status readPad(const Json& pad, ZELSigPad& out) {
    std::string model;
    const Json* capabilities = nullptr;
    Capabilities& c = out.capabilities;
    if (!getString(pad, "model", sizeof out.model - 1, model) ||
        !getUint32(pad, "productId", out.productId) || !getUint32(pad, "uid", out.uid) ||
        !getUint32(pad, "activeWidthUm", out.activeWidthUm) ||
        !getUint32(pad, "activeHeightUm", out.activeHeightUm) ||
        !getObject(pad, "capabilities", capabilities) ||
        !getUint32(*capabilities, "valid", c.valid) ||
        !getUint32(*capabilities, "maxX", c.capability1) ||
        !getUint32(*capabilities, "maxY", c.capability2) ||
        !getUint32(*capabilities, "pressureLevels", c.capability3) ||
        !getUint32(*capabilities, "screenWidth", c.screenWidth) ||
        !getUint32(*capabilities, "screenHeight", c.screenHeight)) {
        return refuse("pad description incomplete");
    }
    if (model.find('\0') != std::string::npos) return refuse("pad model holds a NUL");
    std::memcpy(out.model, model.data(), model.size());
    out.model[model.size()] = '\0';
    return Status::ok();
}

// Well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool isUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = [&](size_t at) { return static_cast<uint8_t>(text[at]); };
        const uint8_t lead = byte(i);
        size_t length = 0;
        uint32_t minimum = 0;
        uint32_t point = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, point = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, point = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, point = lead & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) return false;
            point = (point << 6) | (byte(i + k) & 0x3Fu);
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

std::string utf8Name(const std::string& hostBytes) {
    if (isUtf8(hostBytes)) return hostBytes;
    std::string converted;
    for (const char c : hostBytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (byte >> 6));
            converted += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return converted;
}

std::string isoUtcTime(int64_t unixMs) {
    // Days since 1970 to a civil date (the era-based algorithm, exact for every int64 day).
    int64_t days = unixMs / 86400000;
    int64_t msOfDay = unixMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char text[64];
    std::snprintf(
        text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
        static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
        static_cast<long long>(msOfDay / 3600000), static_cast<long long>(msOfDay / 60000 % 60),
        static_cast<long long>(msOfDay / 1000 % 60), static_cast<long long>(msOfDay % 1000));
    return text;
}

std::string writeMetadata(const EvidenceMetadata& metadata) {
    const ZELSigPad& pad = metadata.pad;
    // Pads report their model in ASCII; anything else is shown as '?' so that the model stays
    // within the field it is read back into.
    std::string model(pad.model, strnlen(pad.model, sizeof pad.model));
    for (char& c : model) {
        if (static_cast<uint8_t>(c) < 0x20 || static_cast<uint8_t>(c) >= 0x7F) c = '?';
    }
    Json members = Json::array();
    for (const MemberDigest& member : metadata.members) {
        members.push_back(
            {{"name", member.name}, {"size", member.size}, {"sha256", member.sha256}});
    }
    Json recipients = Json::array();
    for (const RecipientName& recipient : metadata.recipients) {
        recipients.push_back({{"issuer", recipient.issuer}, {"serial", recipient.serial}});
    }
    const Json json = {{"format", kFormatName},
                       {"formatVersion", metadata.formatVersion},
                       {"libraryVersion", metadata.libraryVersion},
                       {"pad",
                        {{"model", model},
                         {"productId", pad.productId},
                         {"uid", pad.uid},
                         {"activeWidthUm", pad.activeWidthUm},
                         {"activeHeightUm", pad.activeHeightUm},
                         {"capabilities",
                          {{"valid", pad.capabilities.valid},
                           {"maxX", pad.capabilities.capability1},
                           {"maxY", pad.capabilities.capability2},
                           {"pressureLevels", pad.capabilities.capability3},
                           {"screenWidth", pad.capabilities.screenWidth},
                           {"screenHeight", pad.capabilities.screenHeight}}}}},
                       {"captureStart", isoUtcTime(metadata.captureStartUnixMs)},
                       {"captureStartUnixMs", metadata.captureStartUnixMs},
                       {"encrypted", metadata.encrypted},
                       {"sampleCount", metadata.sampleCount},
                       {"durationMs", metadata.durationMs},
                       {"document",
                        {{"name", metadata.documentName},
                         {"size", metadata.documentSize},
                         {"sha256", metadata.documentSha256}}},
                       {"recipients", recipients},
                       {"members", members}};
    // Every text is UTF-8 by now (utf8Name, the model's ASCII); the handler only keeps a
    // mistake from becoming an exception.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Status readMetadata(const uint8_t* data, size_t size, EvidenceMetadata& metadata) {
    metadata = EvidenceMetadata{};
    if (size > kMetadataMaxBytes) return refuse("larger than the limit");
    if (data == nullptr && size != 0) return refuse("no data");
    if (!nestingWithin(data, size, kMaxNesting)) return refuse("nested too deep");
    const Json json = Json::parse(data, data + size, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return refuse("not a JSON object");

    std::string format;
    uint64_t version = 0;
    if (!getString(json, "format", 64, format) || format != kFormatName) {
        return refuse("not an evidence package's metadata");
    }
    if (!getUnsigned(json, "formatVersion", 1000, version) ||
        version != static_cast<uint64_t>(kEvidenceFormatVersion)) {
        return refuse("format version not supported");
    }
    metadata.formatVersion = static_cast<int>(version);

    const Json* pad = nullptr;
    const Json* document = nullptr;
    const auto start = json.find("captureStartUnixMs");
    const auto duration = json.find("durationMs");
    const auto members = json.find("members");
    if (!getString(json, "libraryVersion", 64, metadata.libraryVersion) ||
        !getObject(json, "pad", pad) || !getObject(json, "document", document) ||
        start == json.end() || !start->is_number_integer() ||
        (start->is_number_unsigned() &&
         start->get<uint64_t>() > uint64_t{std::numeric_limits<int64_t>::max()}) ||
        !getBool(json, "encrypted", metadata.encrypted) ||
        !getUnsigned(json, "sampleCount", ZELSIG_MAX_SAMPLES, metadata.sampleCount) ||
        duration == json.end() || !duration->is_number() || members == json.end() ||
        !members->is_array()) {
        return refuse("a field is missing or of the wrong type");
    }
    metadata.captureStartUnixMs = start->get<int64_t>();
    metadata.durationMs = duration->get<double>();
    if (!std::isfinite(metadata.durationMs) || metadata.durationMs < 0) {
        return refuse("duration out of range");
    }
    if (Status status = readPad(*pad, metadata.pad); !status.isOk()) return status;

    if (!getString(*document, "name", kDocumentNameMaxBytes, metadata.documentName) ||
        !getUnsigned(*document, "size", std::numeric_limits<uint64_t>::max(),
                     metadata.documentSize) ||
        !getString(*document, "sha256", kSha256HexLength, metadata.documentSha256) ||
        !isLowerHex(metadata.documentSha256, kSha256HexLength)) {
        return refuse("document entry incomplete");
    }
    if (metadata.documentName.find('\0') != std::string::npos) {
        return refuse("document name holds a NUL");
    }
    const auto recipients = json.find("recipients");
    if (recipients == json.end() || !recipients->is_array() ||
        recipients->size() > kMaxRecipients) {
        return refuse("recipient list missing or too long");
    }
    for (const Json& recipient : *recipients) {
        RecipientName name;
        if (!recipient.is_object() || !getString(recipient, "issuer", 4096, name.issuer) ||
            !getString(recipient, "serial", 128, name.serial)) {
            return refuse("recipient entry incomplete");
        }
        metadata.recipients.push_back(std::move(name));
    }
    if (members->size() > kMaxMembers) return refuse("too many files listed");
    for (const Json& member : *members) {
        MemberDigest digest;
        if (!member.is_object() || !getString(member, "name", 99, digest.name) ||
            !getUnsigned(member, "size", std::numeric_limits<uint64_t>::max(), digest.size) ||
            !getString(member, "sha256", kSha256HexLength, digest.sha256) ||
            !isLowerHex(digest.sha256, kSha256HexLength)) {
            return refuse("file entry incomplete");
        }
        metadata.members.push_back(std::move(digest));
    }
    return Status::ok();
}

}  // namespace zelsig
