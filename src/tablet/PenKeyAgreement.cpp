#include "tablet/PenKeyAgreement.h"

#include <openssl/crypto.h>

#include <cstring>

#include "tablet/ErrorCodes.h"

namespace zel {
namespace {

namespace report {
constexpr uint8_t status = 0x03;
constexpr uint8_t hostPublicKey = 0x13;
constexpr uint8_t padPublicKey = 0x14;
constexpr uint8_t prime = 0x1A;
constexpr uint8_t base = 0x1B;
}  // namespace report

using Encryption::DiffieHellman;
constexpr uint32_t keyReportLength = 1 + DiffieHellman::publicKeySize;
constexpr uint32_t primeReportLength = 1 + DiffieHellman::primeSize;
constexpr uint32_t baseReportLength = 1 + DiffieHellman::generatorSize;
constexpr uint32_t statusReportLength = 5;

// A code below 0x100 other than 0 is the pad's own verdict.
bool isPadCode(uint32_t code) {
    return code != 0 && code < 0x100;
}

}  // namespace

PenKeyAgreement::PenKeyAgreement(Interface& link, bool serial) : link_(link), serial_(serial) {}

uint32_t PenKeyAgreement::padLastResult() {
    uint8_t reply[statusReportLength] = {report::status};
    if (!link_.getFeature(reply, sizeof reply, nullptr)) return status::keyNoAnswer;
    return reply[2];
}

uint32_t PenKeyAgreement::send(uint8_t* request, uint32_t length) {
    uint32_t code = 0;
    const bool sent = link_.setFeature(request, length, &code);
    if (serial_) return sent ? 0 : (code != 0 ? code : status::keyNoAnswer);
    return sent ? padLastResult() : status::keyNoAnswer;
}

uint32_t PenKeyAgreement::fetch(uint8_t* reply, uint32_t length) {
    uint32_t code = 0;
    if (link_.getFeature(reply, length, &code)) return 0;
    if (serial_) return code != 0 ? code : status::keyNoAnswer;
    const uint32_t last = padLastResult();
    return isPadCode(last) ? last : status::keyNoAnswer;
}

uint32_t PenKeyAgreement::offer(const uint8_t prime[16], const uint8_t generator[2]) {
    if (!dh_.setParameters(prime, generator)) return status::keyBadParameters;

    uint8_t primeReport[primeReportLength] = {report::prime};
    std::memcpy(primeReport + 1, prime, DiffieHellman::primeSize);
    if (const uint32_t code = send(primeReport, sizeof primeReport)) return code;
    uint8_t baseReport[baseReportLength] = {report::base};
    std::memcpy(baseReport + 1, generator, DiffieHellman::generatorSize);
    if (const uint32_t code = send(baseReport, sizeof baseReport)) return code;

    // The pad judged the group; the host's own rules (a full 128-bit odd modulus, a base
    // inside it) decide whether it can make a key in it.
    uint8_t hostKey[keyReportLength] = {report::hostPublicKey};
    if (!dh_.generateKey(hostKey + 1, nullptr, nullptr)) return status::keyBadParameters;
    const uint32_t sent = send(hostKey, sizeof hostKey);
    // A refusal leaves the pad with the key it had; an accepted or lost request may not.
    padTookHostKey_ = !isPadCode(sent);
    return sent;
}

uint32_t PenKeyAgreement::receive() {
    uint8_t padKey[keyReportLength] = {report::padPublicKey};
    if (const uint32_t code = fetch(padKey, sizeof padKey)) return code;
    std::memcpy(padKey_, padKey + 1, sizeof padKey_);
    return 0;
}

uint32_t PenKeyAgreement::finish(Encryption::PenDataKey& key) {
    uint8_t shared[DiffieHellman::sharedKeySize];
    const bool computed = dh_.computeSharedKey(padKey_, shared, nullptr, nullptr);
    if (computed) key.setKey(shared);
    OPENSSL_cleanse(shared, sizeof shared);
    if (!computed) return status::keyPadKeyRefused;
    finished_ = true;
    return 0;
}

}  // namespace zel
