// One node of a Huffman decoding tree: a 0 bit leads to `zero`, a 1 bit to `one`. A node with
// neither child is a leaf whose `value` is the decoded symbol. A node owns its children.
#pragma once

#include <atomic>
#include <cstdint>

namespace zel {

// Number of live tree nodes in the process: raised by every construction, lowered by every
// destruction, printed after each successful inflate run. It is a diagnostic only: exact for
// decoders on one thread; decoders running at once on several threads never race on it but
// may lose counts.
extern std::atomic<int32_t> huffmanTreeLeakTracker;

class LuHuffmanNode {
  public:
    // Marks a node that no symbol has reached.
    static constexpr uint32_t kNoValue = 0x7fffffff;

    LuHuffmanNode();
    ~LuHuffmanNode();
    LuHuffmanNode(const LuHuffmanNode&) = delete;
    LuHuffmanNode& operator=(const LuHuffmanNode&) = delete;

    bool IsLeaf() const { return zero == nullptr && one == nullptr; }

    // Trees are rebuilt for every DEFLATE block; recycling node storage per thread keeps that
    // from costing one heap round trip per node. Each node is still created and destroyed on
    // its own.
    static void* operator new(std::size_t size);
    static void operator delete(void* storage) noexcept;

    LuHuffmanNode* zero = nullptr;
    LuHuffmanNode* one = nullptr;
    uint32_t value = kNoValue;
};

}  // namespace zel
