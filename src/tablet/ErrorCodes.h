// Status codes shared by the pads and the library, and their fixed English messages.
// Codes below 0x100 are the pad's own (reported in its status report and in serial
// SET_RESPONSE packets); multiples of 0x100 are the serial transport's. 0 is success.
#pragma once

#include <cstdint>

namespace zel {

namespace status {
constexpr uint32_t ok = 0x000;
constexpr uint32_t wrongReportId = 0x001;
constexpr uint32_t wrongHostIfState = 0x002;
constexpr uint32_t padCrcError = 0x003;
constexpr uint32_t wrongEncodingType = 0x010;
constexpr uint32_t imageTooLong = 0x011;
constexpr uint32_t zlibError = 0x012;
constexpr uint32_t wrongParameters = 0x013;
constexpr uint32_t sprleImageOverflow = 0x01E;
constexpr uint32_t sprleBlockOverflow = 0x01F;
constexpr uint32_t cryptErrors = 0x020;
constexpr uint32_t dhZeroInput = 0x021;
constexpr uint32_t dhTestFailed = 0x022;
constexpr uint32_t dhWrongModule = 0x023;
constexpr uint32_t dhWrongBase = 0x024;
constexpr uint32_t dhWrongOpenKey = 0x025;
constexpr uint32_t dhKeyInvalid = 0x026;
constexpr uint32_t cryptEngineInvalid = 0x027;
constexpr uint32_t setRetriesExhausted = 0x100;
constexpr uint32_t getRetriesExhausted = 0x200;
constexpr uint32_t requestTimeout = 0x300;
constexpr uint32_t encodeFailed = 0x400;
constexpr uint32_t sendFailed = 0x500;
constexpr uint32_t setResponseCrcError = 0x600;
constexpr uint32_t getReportCrcError = 0x700;
constexpr uint32_t setRejectedByCrc = 0x800;
constexpr uint32_t getRejectedByCrc = 0x900;
constexpr uint32_t penDataCrcError = 0xA00;

// The library's own codes beyond the table, returned by the pen-data key agreement. They
// continue the library's multiples of 0x100, so they cannot be taken for a pad's code.
constexpr uint32_t keyNotConnected = 0xB00;
constexpr uint32_t keyNoAnswer = 0xC00;
constexpr uint32_t keyPadKeyRefused = 0xD00;
constexpr uint32_t keyBadParameters = 0xE00;
constexpr uint32_t keyInCallback = 0xF00;
}  // namespace status

// The message of `code`, or "error code undefined" for a value outside the table. The text is
// static and may be used from any thread.
const char* errorMessage(uint32_t code);

// The message the host gets for `code` (GetErrorText): the table's, and for the library's own
// codes beyond the table (the key agreement's) their message. Static text.
const char* statusMessage(uint32_t code);

// The message of `code` as wide text, copied into one library-wide buffer that the next call
// overwrites: copy it before calling again, and guard it with your own lock when several
// threads ask.
const wchar_t* errorText(uint32_t code);

}  // namespace zel
