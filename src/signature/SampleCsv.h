// The signature's samples as CSV text, one row per sample as it arrived:
//   x,y,pressure,switches,time_count,time_ms
// time_ms has three decimals and counts from the capture's start. Numbers are written and
// read without the C locale, so a host's locale never changes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

std::string writeSampleCsv(const SignatureData& signature);

// Reads samples into `out` (its pad and other fields are left as they are). The header row
// must name the columns above; files of earlier versions, whose last column was named
// receive_ms, read alike. Rows end in LF or CRLF; empty rows are skipped; a UTF-8 byte order
// mark is allowed. Anything else, a value out of its range or more than ZELSIG_MAX_SAMPLES rows
// is refused with ZELSIG_ERROR_FORMAT and the line it was found on.
Status readSampleCsv(const uint8_t* bytes, size_t size, SignatureData& out);

}  // namespace zelsig
