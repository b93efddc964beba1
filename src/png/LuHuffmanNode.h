// One node of a Huffman decoding tree: a 0 bit leads to `zero`, a 1 bit to `one`. A node with
// neither child is a leaf whose `value` is the decoded symbol. A node owns its children.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zel {

// Number of live tree nodes in the process: raised by every construction, lowered by every
// destruction, printed after each successful inflate run. It is a diagnostic only: exact for
// decoders on one thread; decoders running at once on several threads never race on it but
// may lose counts.
extern std::atomic<int32_t> huffmanTreeLeakTracker;

// Recycles the storage of the nodes deleted on its thread while it is the innermost one alive
// there, and frees what it holds when it ends. Lives on the stack of the code that builds trees
// (one inflate run); it never holds more blocks than were alive at once in that run.
class LuHuffmanNodeRecycler {
  public:
    LuHuffmanNodeRecycler();
    ~LuHuffmanNodeRecycler();
    LuHuffmanNodeRecycler(const LuHuffmanNodeRecycler&) = delete;
    LuHuffmanNodeRecycler& operator=(const LuHuffmanNodeRecycler&) = delete;

    void* take(std::size_t size);  // null when memory runs out
    void give(void* storage);

  private:
    LuHuffmanNodeRecycler* outer_;
    void* freeBlocks_ = nullptr;
};

class LuHuffmanNode {
  public:
    // Marks a node that no symbol has reached.
    static constexpr uint32_t kNoValue = 0x7fffffff;

    LuHuffmanNode();
    ~LuHuffmanNode();
    LuHuffmanNode(const LuHuffmanNode&) = delete;
    LuHuffmanNode& operator=(const LuHuffmanNode&) = delete;

    bool IsLeaf() const { return zero == nullptr && one == nullptr; }

    // Trees are rebuilt for every DEFLATE block; while a LuHuffmanNodeRecycler is alive on the
    // thread, node storage is recycled, which keeps that from costing one heap round trip per
    // node. Each node is still created and destroyed on its own.
    static void* operator new(std::size_t size);
    static void operator delete(void* storage) noexcept;

    LuHuffmanNode* zero = nullptr;
    LuHuffmanNode* one = nullptr;
    uint32_t value = kNoValue;
};

}  // namespace zel
