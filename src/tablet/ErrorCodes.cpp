#include "tablet/ErrorCodes.h"

#include <cstddef>

namespace zel {
namespace {

struct CodeMessage {
    uint32_t code;
    const char* message;
};

constexpr CodeMessage table[] = {
    {status::ok, "No errors"},
    {status::wrongReportId, "ERROR_WRONG_REPORT_ID (Undefined report ID received by Tablet)"},
    {status::wrongHostIfState,
     "ERROR_WRONG_HOSTIF_STATE (Tablet is in wrong state for this command)"},
    {status::padCrcError, "ERROR_CRC_ZELTABLET (CRC error detected by Tablet)"},
    {status::wrongEncodingType,
     "GRAPHICS_WRONG_ENCODING_TYPE (Wrong encoding type in initialization or image_set "
     "function)"},
    {status::imageTooLong, "GRAPHICS_IMAGE_TOO_LONG (Image size is more than 640x480)"},
    {status::zlibError, "GRAPHICS_ZLIB_ERROR (Error in ZLIB inflate function)"},
    {status::wrongParameters,
     "GRAPHICS_WRONG_PARAMETERS (Wrong parameters in SPRLE decoding procedure)"},
    {status::sprleImageOverflow,
     "GRAPHICS_SPRLE_IMAGE_OVERFLOW (Overflow in SPRLE decoding procedure)"},
    {status::sprleBlockOverflow,
     "GRAPHICS_SPRLE_BLOCK_OVERFLOW (Overflow in block copy part of SPRLE decoding "
     "procedure)"},
    {status::cryptErrors, "ERROR_CRYPT_ERRORS (Error in cryptographic functions)"},
    {status::dhZeroInput,
     "ERROR_CRYPT_DH_ZERO_INPUT (Zero received as input parameter in Diffie-Helmann "
     "routines)"},
    {status::dhTestFailed,
     "ERROR_CRYPT_DH_TEST_FAILED (Known answer test for DH encryption failed)"},
    {status::dhWrongModule,
     "ERROR_CRYPT_DH_WRONG_MODULE (Invalid prime number received from host (non-prime))"},
    {status::dhWrongBase, "ERROR_CRYPT_DH_WRONG_BASE (Invalid base number received from host)"},
    {status::dhWrongOpenKey, "ERROR_CRYPT_DH_WRONG_OPENKEY (Invalid open key received from host)"},
    {status::dhKeyInvalid, "ERROR_CRYPT_DH_KEY_INVALID (Invalid DH key (wasn't calculated))"},
    {status::cryptEngineInvalid, "ERROR_CRYPT_ENGINE_INVALID (DH parameters are not calculated)"},
    {status::setRetriesExhausted,
     "Failed to receive SET_RESPONSE packet after retrying a SET command several times due "
     "to CRC errors"},
    {status::getRetriesExhausted,
     "Failed to receive a GET packet after retrying GET_REPORT command several times due to "
     "CRC errors"},
    {status::requestTimeout, "Timeout while trying to send a request to Tablet"},
    {status::encodeFailed, "Error in _encode function"},
    {status::sendFailed, "Error in _send function"},
    {status::setResponseCrcError, "CRC error found in SET_RESPONSE packed from Tablet"},
    {status::getReportCrcError, "CRC error found in GET_REPORT packet from Tablet"},
    {status::setRejectedByCrc,
     "Failed to send a SET command after retrying it several times due to CRC errors "
     "detected in Tablet"},
    {status::getRejectedByCrc,
     "Failed to send a GET_REPORT command after retrying it several times due to CRC errors "
     "detected in Tablet"},
    {status::penDataCrcError, "CRC error found in PEN_DATA packet from Tablet"},
};

// Codes the table does not name; errorText keeps to the table, so they are looked up apart.
constexpr CodeMessage libraryTable[] = {
    {status::keyNotConnected, "Key agreement: no Tablet is connected"},
    {status::keyNoAnswer,
     "Key agreement: the Tablet did not answer (transfer failed or Tablet gone)"},
    {status::keyPadKeyRefused,
     "Key agreement: invalid open key received from Tablet (refused by the host)"},
    {status::keyBadParameters,
     "Key agreement: invalid prime or base given by the host (wrong size, or no key can be "
     "made with them)"},
    {status::keyInCallback, "Key agreement: not possible inside a pen callback"},
};

constexpr const char* undefinedMessage = "error code undefined";

constexpr size_t longestMessage() {
    size_t longest = 0;
    for (const CodeMessage& entry : table) {
        size_t length = 0;
        while (entry.message[length] != '\0')
            ++length;
        if (length > longest) longest = length;
    }
    return longest;
}

// The one wide buffer errorText hands out; every message is ASCII and fits.
wchar_t wideText[longestMessage() + 1];

}  // namespace

const char* errorMessage(uint32_t code) {
    for (const CodeMessage& entry : table)
        if (entry.code == code) return entry.message;
    return undefinedMessage;
}

const char* statusMessage(uint32_t code) {
    for (const CodeMessage& entry : libraryTable)
        if (entry.code == code) return entry.message;
    return errorMessage(code);
}

const wchar_t* errorText(uint32_t code) {
    const char* message = errorMessage(code);
    size_t i = 0;
    for (; message[i] != '\0'; ++i)
        wideText[i] = static_cast<wchar_t>(message[i]);
    wideText[i] = L'\0';
    return wideText;
}

}  // namespace zel
