#include "tablet/HostSettings.h"

#include <algorithm>

namespace zel {

void HostSettings::inkingMode(uint8_t mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasInkingMode = true;
    values_.inkingMode = mode;
}

void HostSettings::pen(uint32_t width, uint32_t colour) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasPen = true;
    values_.penWidth = width;
    values_.penColour = colour;
}

void HostSettings::backlight(uint32_t level) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasBacklight = true;
    values_.backlight = level;
}

void HostSettings::clearColour(uint32_t colour) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasClearColour = true;
    values_.clearColour = colour;
}

void HostSettings::area(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasArea = true;
    values_.area = {left, top, right, bottom};
}

void HostSettings::timeCount(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasTimeCount = true;
    values_.timeCount = enabled;
}

void HostSettings::keyGroup(const uint8_t prime[16], const uint8_t generator[2]) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.hasKey = true;
    std::copy(prime, prime + 16, values_.prime.begin());
    std::copy(generator, generator + 2, values_.generator.begin());
}

HostSettings::Values HostSettings::values() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
}

}  // namespace zel
