// Owners for the Win32 handles the Windows side holds: each closes its handle exactly once,
// with the function that belongs to it, when it goes out of scope.
#pragma once

#include <windows.h>

#include <utility>

namespace zel::platform::windows {

// A kernel object handle (file, event). Null and INVALID_HANDLE_VALUE both mean "none".
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

// A COM interface pointer: released once.
template <typename Interface>
class ComRef {
  public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    // For functions that hand out a new reference.
    Interface** out() {
        reset();
        return &pointer_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    void reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }

  private:
    Interface* pointer_ = nullptr;
};

// A global memory block from GlobalAlloc; freed once unless released to a new owner.
class GlobalBlock {
  public:
    explicit GlobalBlock(HGLOBAL block) : block_(block) {}
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    ~GlobalBlock() {
        if (block_ != nullptr) GlobalFree(block_);
    }
    HGLOBAL get() const { return block_; }
    HGLOBAL release() { return std::exchange(block_, nullptr); }

  private:
    HGLOBAL block_;
};

// A lock on a global memory block, undone once.
class GlobalLockGuard {
  public:
    explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() { unlock(); }
    void* data() const { return data_; }
    void unlock() {
        if (data_ != nullptr) GlobalUnlock(block_);
        data_ = nullptr;
    }

  private:
    HGLOBAL block_;
    void* data_;
};

}  // namespace zel::platform::windows
