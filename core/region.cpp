#include "core/region.hpp"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace core {

Region::Region() {
  void* p = mmap(nullptr, kReserve, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  base_ = static_cast<uint8_t*>(p);
  // The first page stays inaccessible so that Addr 0 and small offsets fault.
  mprotect(base_, kFirst, PROT_NONE);
}

Region::~Region() { munmap(base_, kReserve); }

void Region::prefault(void* p, uint64_t n) {
#ifdef MADV_POPULATE_WRITE
  uintptr_t start = reinterpret_cast<uintptr_t>(p) & ~uintptr_t(4095);
  uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n + 4095) & ~uintptr_t(4095);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)p, (void)n;
#endif
}

// Size classes: powers of two from 16 bytes up. A block of class k holds up
// to 16 << k usable bytes, so a freed block fits every later request of its
// class.
int Region::size_class(uint32_t n) {
  int k = 0;
  uint64_t cap = 16;
  while (cap < n) {
    cap <<= 1;
    ++k;
  }
  return k;
}

Addr Region::allocate(uint32_t n) {
  int k = size_class(n == 0 ? 1 : n);
  uint64_t cap = uint64_t(16) << k;
  Addr a = free_lists_[k];
  if (a != 0) {
    // A free block keeps the next free block of its class in its first word.
    uint32_t next;
    std::memcpy(&next, ptr(a), 4);
    free_lists_[k] = next;
    std::memset(ptr(a), 0, n);  // fresh pages from the top are already zero
  } else {
    uint64_t start = top_ + sizeof(BlockHeader);
    if (start + cap > kReserve) return 0;
    top_ = start + cap;
    a = Addr(start);
  }
  auto* h = reinterpret_cast<BlockHeader*>(ptr(a) - sizeof(BlockHeader));
  h->size = n;
  h->magic = kLive;
  live_bytes_ += n;
  return a;
}

Region::BlockHeader* Region::header_of(Addr a) const {
  if (a < kFirst + sizeof(BlockHeader) || a >= top_ || (a & 7) != 0) return nullptr;
  return reinterpret_cast<BlockHeader*>(ptr(a) - sizeof(BlockHeader));
}

bool Region::release(Addr a) {
  BlockHeader* h = header_of(a);
  if (h == nullptr || h->magic != kLive) return false;
  int k = size_class(h->size == 0 ? 1 : h->size);
  live_bytes_ -= h->size;
  h->magic = kFree;
  std::memcpy(ptr(a), &free_lists_[k], 4);
  free_lists_[k] = a;
  return true;
}

uint32_t Region::block_size(Addr a) const {
  BlockHeader* h = header_of(a);
  return h != nullptr && h->magic == kLive ? h->size : 0;
}

Addr Region::block_containing(Addr a, uint32_t n) const {
  // Walk the blocks in address order; live blocks are few (handles and
  // pointer blocks), and this check guards raw memory access only.
  uint64_t at = kFirst;
  while (at + sizeof(BlockHeader) <= top_) {
    auto* h = reinterpret_cast<const BlockHeader*>(ptr(Addr(at)));
    if (h->magic == kGap) {
      at += h->size;
      continue;
    }
    uint64_t start = at + sizeof(BlockHeader);
    uint64_t cap = uint64_t(16) << size_class(h->size == 0 ? 1 : h->size);
    if (h->magic == kLive && a >= start && uint64_t(a) + n <= start + h->size) return Addr(start);
    at = start + cap;
  }
  return 0;
}

void Region::skip_to(Addr a) {
  uint64_t target = (uint64_t(a) - sizeof(BlockHeader)) & ~uint64_t(7);
  if (a < sizeof(BlockHeader) || target <= top_ + sizeof(BlockHeader)) return;
  auto* h = reinterpret_cast<BlockHeader*>(ptr(Addr(top_)));
  h->size = uint32_t(target - top_);
  h->magic = kGap;
  top_ = target;
}

}  // namespace core
