// The address region: one large reservation of virtual memory that holds the
// Lisp block and every native block the Lisp side can name (handles, pointer
// blocks, permanent texts).
//
// A Value and a node word are 32 bits, but native pointers on this host are
// 64. Wherever the machine stores a native address in a 32-bit word (the cdr
// of an indirect node, a pointer box, a permanent string's text, a handle's
// master pointer) it stores an Addr instead: the byte offset of the place from
// the region's base. Addr 0 is never a valid place (the first page is kept
// unused), so 0 keeps meaning "no address". Native functions and native C++
// objects are never stored as addresses: they go through index tables of the
// runtime. Nothing ever narrows a native pointer to 32 bits.
#pragma once
#include <cstddef>
#include <cstdint>

namespace core {

using Addr = uint32_t;

// The native block allocator inside the region. Blocks carry an 8-byte header
// (size and a live mark) so that raw memory access from Lisp can be checked
// against live blocks. Freed blocks are kept on size-class lists and reused.
class Region {
 public:
  static constexpr uint64_t kReserve = uint64_t(1) << 32;  // 4 GiB of offsets
  static constexpr Addr kFirst = 4096;

  Region();
  ~Region();
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;

  uint8_t* base() const { return base_; }
  uint8_t* ptr(Addr a) const { return base_ + a; }
  Addr addr(const void* p) const { return Addr(static_cast<const uint8_t*>(p) - base_); }
  bool contains(const void* p) const {
    auto* q = static_cast<const uint8_t*>(p);
    return q >= base_ + kFirst && q < base_ + kReserve;
  }

  // Makes the pages of [p, p + n) resident and writable now, in one call,
  // for memory about to be written whole: one system call instead of a page
  // fault per page. Only a hint: where the system cannot, the pages fault in
  // as they are written.
  static void prefault(void* p, uint64_t n);

  // Allocates a native block of n bytes, 8-byte aligned; 0 when the region
  // is exhausted. The bytes are zeroed.
  Addr allocate(uint32_t n);
  // Releases a block made by allocate; a second release of the same block or
  // a release of anything else is refused (answers false).
  bool release(Addr a);
  // The size of a live block, or 0 when a is not the start of a live block.
  uint32_t block_size(Addr a) const;
  // The live block that holds [a, a + n), as its start, or 0.
  Addr block_containing(Addr a, uint32_t n) const;
  // Moves the allocation point so that the next block lands at or above
  // offset a (tests use it to place blocks high in the region).
  void skip_to(Addr a);

  // Bytes handed out in live blocks.
  uint64_t live_bytes() const { return live_bytes_; }
  uint64_t free_bytes() const { return kReserve - top_; }

 private:
  struct BlockHeader {
    uint32_t size;   // usable bytes
    uint32_t magic;  // kLive or kFree
  };
  static constexpr uint32_t kLive = 0x4C495645;
  static constexpr uint32_t kFree = 0x46524545;
  static constexpr uint32_t kGap = 0x47415020;
  static constexpr int kClasses = 40;
  static int size_class(uint32_t n);
  BlockHeader* header_of(Addr a) const;

  uint8_t* base_ = nullptr;
  uint64_t top_ = kFirst;
  uint64_t live_bytes_ = 0;
  Addr free_lists_[kClasses] = {};
};

}  // namespace core
