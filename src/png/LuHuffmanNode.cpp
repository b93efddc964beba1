#include "png/LuHuffmanNode.h"

#include <cstdlib>
#include <new>

namespace zel {

std::atomic<int32_t> huffmanTreeLeakTracker{0};

namespace {

// A per-thread list of released node blocks. It never holds more blocks than the largest
// number of nodes that were alive at once on the thread (two trees of at most 320 symbols),
// and gives them back when the thread ends.
struct FreeBlock {
    FreeBlock* next;
};

class NodeStore {
  public:
    ~NodeStore() {
        while (head_ != nullptr) {
            FreeBlock* next = head_->next;
            std::free(head_);
            head_ = next;
        }
    }
    void* take(std::size_t size) {
        if (head_ != nullptr) {
            FreeBlock* block = head_;
            head_ = block->next;
            return block;
        }
        void* storage = std::malloc(size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size);
        if (storage == nullptr) throw std::bad_alloc();
        return storage;
    }
    void give(void* storage) {
        auto* block = static_cast<FreeBlock*>(storage);
        block->next = head_;
        head_ = block;
    }

  private:
    FreeBlock* head_ = nullptr;
};

thread_local NodeStore nodeStore;

}  // namespace

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

void* LuHuffmanNode::operator new(std::size_t size) {
    return nodeStore.take(size);
}

void LuHuffmanNode::operator delete(void* storage) noexcept {
    if (storage != nullptr) nodeStore.give(storage);
}

}  // namespace zel
