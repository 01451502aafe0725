// A table of native objects named from Lisp by 32-bit handles.
//
// A handle is a slot index (low 20 bits) and the slot's generation (high 12
// bits, never 0), so that a handle never is 0 and a handle to a removed
// object stays dead even after its slot is reused: every lookup checks the
// generation and answers null for a dead handle, never freed memory.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace media {

template <typename T>
class HandleTable {
 public:
  static constexpr uint32_t kIndexBits = 20;
  static constexpr uint32_t kMaxSlots = (1u << kIndexBits) - 1;

  // Stores an object; 0 when the table is full.
  uint32_t add(std::unique_ptr<T> object) {
    uint32_t index;
    if (!free_.empty()) {
      index = free_.back();
      free_.pop_back();
    } else {
      if (slots_.size() >= kMaxSlots) return 0;
      slots_.push_back(Slot{});
      index = uint32_t(slots_.size());  // slot i - 1 has index i: 0 is no handle
    }
    Slot& s = slots_[index - 1];
    s.object = std::move(object);
    return (s.generation << kIndexBits) | index;
  }

  // The live object of a handle, or null.
  T* get(uint32_t handle) const {
    uint32_t index = handle & kMaxSlots, generation = handle >> kIndexBits;
    if (index == 0 || index > slots_.size()) return nullptr;
    const Slot& s = slots_[index - 1];
    return s.generation == generation ? s.object.get() : nullptr;
  }

  // Removes the object of a live handle; false for a dead one.
  bool remove(uint32_t handle) {
    if (get(handle) == nullptr) return false;
    Slot& s = slots_[(handle & kMaxSlots) - 1];
    s.object.reset();
    s.generation = s.generation == 0xFFF ? 1 : s.generation + 1;
    free_.push_back(handle & kMaxSlots);
    return true;
  }

  size_t live() const { return slots_.size() - free_.size(); }

 private:
  struct Slot {
    std::unique_ptr<T> object;
    uint32_t generation = 1;
  };
  std::vector<Slot> slots_;
  std::vector<uint32_t> free_;
};

}  // namespace media
