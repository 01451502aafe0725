// Tables of native objects named from Lisp.
//
// Lisp never holds the address of a native object (a handle, a file, a
// window, a process...): a box holds an id into that kind's NativeTable.
// An id is an index in its low 20 bits and the generation of the slot in
// the high 12. Freeing an entry advances its slot's generation, so an id
// kept after the free (a stale box) no longer matches and is refused even
// once the slot serves a new entry. A slot whose generation would wrap is
// retired rather than reused. Id 0 is never handed out.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/errors.hpp"

namespace core {

template <typename T>
class NativeTable {
 public:
  static constexpr uint32_t kIndexBits = 20;
  static constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
  static constexpr uint32_t kLastGeneration = (1u << (32 - kIndexBits)) - 1;

  // Adds an entry; its id, or 0 when every index is taken.
  uint32_t add(T value) {
    uint32_t index;
    if (free_ != 0) {
      index = free_;
      free_ = slots_[index].next_free;
    } else {
      if (slots_.empty()) slots_.resize(1);  // index 0 names nothing
      if (slots_.size() > kIndexMask) return 0;
      index = uint32_t(slots_.size());
      slots_.emplace_back();
    }
    Slot& s = slots_[index];
    s.value = std::move(value);
    s.used = true;
    ++live_;
    return (s.generation << kIndexBits) | index;
  }

  // The entry of a live id; nullptr for 0, a freed entry or a stale id.
  T* find(uint32_t id) {
    uint32_t index = id & kIndexMask;
    if (index == 0 || index >= slots_.size()) return nullptr;
    Slot& s = slots_[index];
    if (!s.used || s.generation != id >> kIndexBits) return nullptr;
    return &s.value;
  }
  const T* find(uint32_t id) const { return const_cast<NativeTable*>(this)->find(id); }
  bool live(uint32_t id) const { return find(id) != nullptr; }

  // The entry of a live id; error 2 with the culprit otherwise.
  T& get(uint32_t id, Value culprit) {
    T* p = find(id);
    if (p == nullptr) error(Err::WrongType, culprit);
    return *p;
  }

  // Frees a live entry; false when the id is not live. The entry's value
  // is destroyed last, once the table is consistent again, so that its
  // destructor may use the table.
  bool remove(uint32_t id) {
    if (find(id) == nullptr) return false;
    uint32_t index = id & kIndexMask;
    [[maybe_unused]] T dying = std::move(slots_[index].value);
    Slot& s = slots_[index];
    s.value = T();
    s.used = false;
    --live_;
    if (s.generation == kLastGeneration) return true;  // retired
    ++s.generation;
    s.next_free = free_;
    free_ = index;
    return true;
  }

  size_t live_count() const { return live_; }

  // Calls f(id, entry) for every live entry, in index order. f may remove
  // the entry it is given.
  template <typename F>
  void for_each(F f) {
    for (uint32_t i = 1; i < slots_.size(); ++i)
      if (slots_[i].used) f((slots_[i].generation << kIndexBits) | i, slots_[i].value);
  }

  // Frees every entry and forgets every id handed out so far.
  void clear() {
    slots_.clear();
    free_ = 0;
    live_ = 0;
  }

 private:
  struct Slot {
    T value{};
    uint32_t generation = 0;
    uint32_t next_free = 0;
    bool used = false;
  };
  std::vector<Slot> slots_;
  uint32_t free_ = 0;
  size_t live_ = 0;
};

}  // namespace core
