// Pen input reports from the pad go through decodePenData exactly as the reader loop hands
// them over: any bytes, any length.
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/AES.h"
#include "transport/Interface.h"

namespace {

class NullListener : public zel::InterfaceListener {
  public:
    void onPenData(zel::PenData& record) override { sink ^= record.x ^ record.pressure; }
    bool isFeatureReport(uint8_t) override { return false; }
    uint32_t sink = 0;
};

class ReportOnlyTransport : public zel::Interface {
  public:
    using Interface::Interface;
    uint32_t readInput(uint8_t*, uint32_t, uint32_t) override { return 0; }
    bool getFeature(uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool setFeature(uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool writeBulk(uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool openBulk(const char*) override { return false; }

  protected:
    std::unique_ptr<zel::platform::Device> openDevice(const char*) override { return nullptr; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool keyed = [] {
        const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        zel::Encryption::AES::setKey(key);
        return true;
    }();
    (void)keyed;
    // The decoder works in place on the reader's buffer; give it an exact-size copy so that
    // any read past the report is caught.
    std::vector<uint8_t> report(data, data + size);
    NullListener listener;
    ReportOnlyTransport transport(&listener);
    zel::PenData record{};
    if (transport.decodePenData(record, report.data(), static_cast<uint32_t>(report.size())))
        listener.onPenData(record);
    return 0;
}
