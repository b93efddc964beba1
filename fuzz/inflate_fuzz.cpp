// Inflate alone, checked against zlib: whenever zlib accepts the input as one complete zlib
// stream, inflate must produce exactly the same bytes and report success.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "png/LuGenericPngDecoder.h"
#include "png/LuZlibDecoder.h"
#include "png/PngDiagnostics.h"

namespace {

// The decoder's diagnostic lines would only slow the runs down and bury the fuzzer's report.
[[maybe_unused]] const bool diagnosticsSilenced = [] {
    zel::png::setDiagnosticOutput(zel::png::DiagnosticOutput::none, nullptr, nullptr);
    return true;
}();

constexpr size_t kOutputLimit = size_t{1} << 22;

// Keeps the output, up to a limit beyond which it refuses (as a full image would).
class Receiver : public zel::LuGenericPngDecoder {
  public:
    int OutputBytes(const unsigned char* bytes, uint32_t count) override {
        if (output.size() + count > kOutputLimit) return 0;
        output.insert(output.end(), bytes, bytes + count);
        return 1;
    }
    std::vector<unsigned char> output;
};

bool zlibInflate(const uint8_t* data, size_t size, std::vector<unsigned char>& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    unsigned char buffer[16384];
    while (status == Z_OK) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
        if (out.size() > kOutputLimit) status = Z_BUF_ERROR;
        if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Receiver receiver;
    zel::LuZlibDecoder decoder(&receiver);
    const int result = decoder.Decode(static_cast<uint32_t>(size), data);

    std::vector<unsigned char> expected;
    if (zlibInflate(data, size, expected)) {
        if (result != 1 || receiver.output != expected) std::abort();
    }
    return 0;
}
