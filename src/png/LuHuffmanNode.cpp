#include "png/LuHuffmanNode.h"

#include <cstdlib>
#include <new>

namespace zel {

std::atomic<int32_t> huffmanTreeLeakTracker{0};

namespace {

struct FreeBlock {
    FreeBlock* next;
};

// The recycler of the innermost scope on this thread, if any. A plain pointer: thread-local
// objects with destructors are run at thread exit after their storage is gone on some
// systems (the MinGW runtime frees its emulated thread-local storage first), so the blocks
// are owned by the scope on the stack instead and the thread keeps nothing at its end.
thread_local LuHuffmanNodeRecycler* activeRecycler = nullptr;

}  // namespace

LuHuffmanNodeRecycler::LuHuffmanNodeRecycler() : outer_(activeRecycler) {
    activeRecycler = this;
}

LuHuffmanNodeRecycler::~LuHuffmanNodeRecycler() {
    activeRecycler = outer_;
    while (freeBlocks_ != nullptr) {
        FreeBlock* block = static_cast<FreeBlock*>(freeBlocks_);
        freeBlocks_ = block->next;
        std::free(block);
    }
}

void* LuHuffmanNodeRecycler::take(std::size_t size) {
    if (freeBlocks_ != nullptr) {
        FreeBlock* block = static_cast<FreeBlock*>(freeBlocks_);
        freeBlocks_ = block->next;
        return block;
    }
    return std::malloc(size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size);
}

void LuHuffmanNodeRecycler::give(void* storage) {
    auto* block = static_cast<FreeBlock*>(storage);
    block->next = static_cast<FreeBlock*>(freeBlocks_);
    freeBlocks_ = block;
}

// A load and a store rather than an atomic increment: trees are rebuilt for every block, and
// a locked increment per node would cost a noticeable part of inflate. The count is exact on
// one thread; decoders on several threads at once may lose counts (it is a diagnostic only),
// but never race.
LuHuffmanNode::LuHuffmanNode() {
    huffmanTreeLeakTracker.store(huffmanTreeLeakTracker.load(std::memory_order_relaxed) + 1,
                                 std::memory_order_relaxed);
}

LuHuffmanNode::~LuHuffmanNode() {
    delete zero;
    delete one;
    huffmanTreeLeakTracker.store(huffmanTreeLeakTracker.load(std::memory_order_relaxed) - 1,
                                 std::memory_order_relaxed);
}

// Every block comes from malloc, whether a recycler hands it out or not, so a node may end
// under another recycler than the one it came from, or under none.
void* LuHuffmanNode::operator new(std::size_t size) {
    void* storage = activeRecycler != nullptr
                        ? activeRecycler->take(size)
                        : std::malloc(size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size);
    if (storage == nullptr) throw std::bad_alloc();
    return storage;
}

void LuHuffmanNode::operator delete(void* storage) noexcept {
    if (storage == nullptr) return;
    if (activeRecycler != nullptr)
        activeRecycler->give(storage);
    else
        std::free(storage);
}

}  // namespace zel
