// The host's side of the pen-data key agreement over one transport. The group goes to the pad
// as report 0x1A (the 16-byte prime) and 0x1B (the 2-byte base), the host's public key as
// 0x13, and the pad's public key comes back as 0x14; all big-endian, in the formats of
// Encryption::DiffieHellman. The pad answers with its own codes 33-39 when it refuses a value.
//
// Where the pad's verdict is found: on a serial link the SET_RESPONSE to each SET (and the
// SET_RESPONSE that replaces a refused GET answer) carries it in the transport's status. Over
// HID a SET goes through whatever the pad makes of it and a refused GET just fails, so the
// pad's last result (status report 0x03, byte 2) is read after each SET and after a failed GET.
#pragma once

#include <cstdint>

#include "crypto/DiffieHellman.h"
#include "crypto/PenDataKey.h"
#include "transport/Interface.h"

namespace zel {

class PenKeyAgreement {
  public:
    PenKeyAgreement(Interface& link, bool serial);

    // Sends the group, makes the host's key pair and sends its public key. 0, or the status
    // code of the step that failed: the pad's code when it refused a value, a serial
    // transport code, status::keyNoAnswer for a transfer that failed without one,
    // status::keyBadParameters when the host cannot make a key in the group.
    uint32_t offer(const uint8_t prime[16], const uint8_t generator[2]);

    // Reads the pad's public key (after offer succeeded); 0 or a code as for offer. The pad
    // sends no pen data from taking the host's key until it has answered this.
    uint32_t receive();

    // Turns the pad's public key into the AES key of report 0x10, set in `key`. Run it only
    // while no report is being decrypted. 0, or status::keyPadKeyRefused when the pad's key
    // fails the host's checks (`key` is then left alone).
    uint32_t finish(Encryption::PenDataKey& key);

    // True when the pad may be using a key the host does not hold: it accepted the host's
    // public key (or its answer was lost) and the agreement did not complete.
    bool padMayHaveNewKey() const { return padTookHostKey_ && !finished_; }

  private:
    uint32_t send(uint8_t* report, uint32_t length);
    uint32_t fetch(uint8_t* report, uint32_t length);
    // The pad's last result code over HID, or status::keyNoAnswer when it cannot be read.
    uint32_t padLastResult();

    Interface& link_;
    bool serial_;
    Encryption::DiffieHellman dh_;
    uint8_t padKey_[Encryption::DiffieHellman::publicKeySize] = {};
    bool padTookHostKey_ = false;
    bool finished_ = false;
};

}  // namespace zel
