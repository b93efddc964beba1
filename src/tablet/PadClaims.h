// Which pads are open, library-wide: a pad is driven by one tablet at a time (the
// process-wide pad or one handle), so two readers never split its samples and two hosts never
// interleave its commands. A pad is named by the path its transport opened.
//
// Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zel {

class PadClaims {
  public:
    static PadClaims& instance();

    // Claims `path` for `owner` (uid: the identifier the pad gave). True when it was free or
    // already `owner`'s.
    bool claim(const std::string& path, const void* owner, uint32_t uid);
    // Gives `path` up if `owner` holds it.
    void release(const std::string& path, const void* owner);
    // Whether another owner than `owner` holds `path`; *uid then receives the identifier.
    bool heldByOther(const std::string& path, const void* owner, uint32_t* uid = nullptr) const;
    // Whether another owner than `owner` holds a pad with identifier `uid` that has left
    // (its path is none of `present`): a pad that comes back, under a new path, is still
    // that owner's until it lets go.
    bool lostPadHeldByOther(uint32_t uid, const void* owner,
                            const std::vector<std::string>& present) const;

  private:
    struct Holder {
        const void* owner;
        uint32_t uid;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Holder> held_;
};

}  // namespace zel
