#include "tablet/PadClaims.h"

#include <algorithm>

namespace zel {

PadClaims& PadClaims::instance() {
    // Never destroyed: reader threads of pads left open may release claims while the process
    // exits.
    static PadClaims* claims = new PadClaims();
    return *claims;
}

bool PadClaims::claim(const std::string& path, const void* owner, uint32_t uid) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = held_.find(path);
    if (found != held_.end()) {
        if (found->second.owner != owner) return false;
        found->second.uid = uid;
        return true;
    }
    held_.emplace(path, Holder{owner, uid});
    return true;
}

void PadClaims::release(const std::string& path, const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = held_.find(path);
    if (found != held_.end() && found->second.owner == owner) held_.erase(found);
}

bool PadClaims::heldByOther(const std::string& path, const void* owner, uint32_t* uid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = held_.find(path);
    if (found == held_.end() || found->second.owner == owner) return false;
    if (uid != nullptr) *uid = found->second.uid;
    return true;
}

bool PadClaims::lostPadHeldByOther(uint32_t uid, const void* owner,
                                   const std::vector<std::string>& present) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [path, holder] : held_)
        if (holder.owner != owner && holder.uid == uid &&
            std::find(present.begin(), present.end(), path) == present.end())
            return true;
    return false;
}

}  // namespace zel
