// The pad's side of the protocol: report IDs, lengths and result codes as the firmware knows
// them. Kept apart from the library's own constants on purpose, so that the virtual pad is a
// second, independent reading of the protocol.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel::sim {

// Input reports the pad sends on its own.
namespace input {
constexpr uint8_t pen = 0x01;
constexpr uint8_t encryptedPen = 0x10;
constexpr uint8_t timedPen = 0x30;
constexpr size_t penLength = 7;
constexpr size_t timedPenLength = 9;
constexpr size_t encryptedPenLength = 17;
}  // namespace input

// Feature reports of the command set.
namespace report {
constexpr uint8_t status = 0x03;
constexpr uint8_t information = 0x08;
constexpr uint8_t capabilities = 0x09;
constexpr uint8_t uid = 0x0A;
constexpr uint8_t clearScreen = 0x20;
constexpr uint8_t inking = 0x21;
constexpr uint8_t startImage = 0x25;
constexpr uint8_t imageData = 0x26;
constexpr uint8_t endImage = 0x27;
constexpr uint8_t penProperties = 0x28;
constexpr uint8_t clearColour = 0x29;
constexpr uint8_t handwritingArea = 0x2A;
constexpr uint8_t backlight = 0x2B;
constexpr uint8_t timeCount = 0x32;
// The key agreement of encrypted pen data.
constexpr uint8_t hostPublicKey = 0x13;
constexpr uint8_t padPublicKey = 0x14;
constexpr uint8_t prime = 0x1A;
constexpr uint8_t base = 0x1B;
}  // namespace report

// Full length of each feature report, ID included.
namespace length {
constexpr size_t status = 5;
constexpr size_t information = 17;
constexpr size_t capabilities = 18;
constexpr size_t uid = 6;
constexpr size_t clearScreen = 2;
constexpr size_t inking = 2;
constexpr size_t startImage = 2;
constexpr size_t imageData = 256;
constexpr size_t endImage = 2;
constexpr size_t penProperties = 4;
constexpr size_t clearColour = 3;
constexpr size_t handwritingArea = 9;
constexpr size_t backlight = 3;
constexpr size_t timeCount = 2;
constexpr size_t hostPublicKey = 17;
constexpr size_t padPublicKey = 17;
constexpr size_t prime = 17;
constexpr size_t base = 3;
}  // namespace length

// The pad's result codes (status byte 2, and the code of a serial SET_RESPONSE).
namespace code {
constexpr uint8_t ok = 0;
constexpr uint8_t wrongReportId = 1;
constexpr uint8_t wrongState = 2;
constexpr uint8_t crcError = 3;
constexpr uint8_t wrongEncoding = 16;
constexpr uint8_t imageTooLong = 17;
constexpr uint8_t zlibError = 18;
constexpr uint8_t wrongParameters = 19;
constexpr uint8_t cryptErrors = 32;
constexpr uint8_t dhZeroInput = 33;
constexpr uint8_t dhWrongModule = 35;
constexpr uint8_t dhWrongBase = 36;
constexpr uint8_t dhWrongOpenKey = 37;
constexpr uint8_t dhKeyInvalid = 38;
constexpr uint8_t cryptEngineInvalid = 39;
}  // namespace code

// Status byte 1 of report 0x03.
namespace state {
constexpr uint8_t ready = 0;
constexpr uint8_t busy = 1;
}  // namespace state

// Encoding types carried by the start-image report.
namespace encoding {
constexpr uint8_t mono = 0x00;
constexpr uint8_t monoZlib = 0x01;
constexpr uint8_t rgb565 = 0x02;
constexpr uint8_t bulkFlag = 0x10;
}  // namespace encoding

// Largest picture the pad's graphics engine takes.
constexpr uint32_t maxImageWidth = 640;
constexpr uint32_t maxImageHeight = 480;
// Payload bytes one image-data report carries at most.
constexpr uint32_t maxImageDataCount = 253;

// Packet kinds on the serial link.
namespace serial {
constexpr uint8_t getReport = 0x80;
constexpr uint8_t setResponse = 0x81;
}  // namespace serial

}  // namespace zel::sim
