#include "api/CallbackRegistry.h"

#include <atomic>

namespace zel {

template <typename Change>
void CallbackRegistry::update(Change change) {
    std::shared_ptr<const Record> seen = std::atomic_load(&current_);
    for (;;) {
        auto next = std::make_shared<Record>(seen ? *seen : Record{});
        change(*next);
        std::shared_ptr<const Record> replacement = std::move(next);
        // Two hosts threads registering at once: the loser retries on the winner's record,
        // so neither change is lost.
        if (std::atomic_compare_exchange_weak(&current_, &seen, replacement)) return;
    }
}

void CallbackRegistry::setSimple(PenCallback callback) {
    update([callback](Record& record) { record.simple = callback; });
}

void CallbackRegistry::setExtended(PenCallbackExt callback, void* context) {
    update([callback, context](Record& record) {
        record.extended = callback;
        record.context = context;
    });
}

bool CallbackRegistry::deliver(const PenSample& sample) const {
    const std::shared_ptr<const Record> record = std::atomic_load(&current_);
    if (!record) return false;
    if (record->extended != nullptr) {
        record->extended(sample, record->context);
        return true;
    }
    if (record->simple != nullptr) {
        record->simple(sample);
        return true;
    }
    return false;
}

}  // namespace zel
