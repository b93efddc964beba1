// What the host has set on a pad, as last accepted: so that a pad that comes back after an
// unplug (and has lost or kept its state, depending on the model) is given the same settings,
// and the same kind of pen-data key, again.
//
// Thread-safe: recorded on the host's threads, read by a reconnection on the library's.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace zel {

class HostSettings {
  public:
    struct Values {
        bool hasInkingMode = false;
        uint8_t inkingMode = 0;
        bool hasPen = false;
        uint32_t penWidth = 0, penColour = 0;
        bool hasBacklight = false;
        uint32_t backlight = 0;
        bool hasClearColour = false;
        uint32_t clearColour = 0;
        bool hasArea = false;
        std::array<uint32_t, 4> area{};  // left, top, right, bottom
        bool hasTimeCount = false;
        bool timeCount = false;
        // The group of the last key agreement the pad took part in.
        bool hasKey = false;
        std::array<uint8_t, 16> prime{};
        std::array<uint8_t, 2> generator{};
    };

    void inkingMode(uint8_t mode);
    void pen(uint32_t width, uint32_t colour);
    void backlight(uint32_t level);
    void clearColour(uint32_t colour);
    void area(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom);
    void timeCount(bool enabled);
    void keyGroup(const uint8_t prime[16], const uint8_t generator[2]);

    Values values() const;

  private:
    mutable std::mutex mutex_;
    Values values_;
};

}  // namespace zel
