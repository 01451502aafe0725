// The shapes of the object system's heap records, shared by its modules.
//
// Class, instance and slot descriptor records are indirect objects: their
// bytes live in the heap zone and move at every collection, so every access
// goes through the record's node (indirect_bytes) at the moment of use and
// never keeps a pointer across an allocation. Heap blocks are only 2-byte
// aligned: words are read and written with memcpy.
//
// Class record (header 0x38, 48 bytes): the object header (class, native
// part, overrides), name, member table, native constructor (a native table
// index plus one; 0 for none), direct superclasses, direct subclasses,
// genealogy, 16-bit table entry count and 16-bit instance size, laid-out
// flag, united flag.
//
// Instance record (header 0x39): the object header, the record's own byte
// size, then the slot storage. Each instance carries its size so that the
// collector never sizes it by a newer layout of its class.
//
// Member table: a vector (16-bit count, then the entries). An entry is the
// end-of-arguments marker (absent), a slot handle, or a method or
// class-level value.
//
// Slot handle: a node of tag 0x3D, car the position, cdr the descriptor. A
// position is a fixnum-tagged word whose payload is (offset << 8) | code,
// or nil before the class is laid out. The code tells the storage kind:
// 0 a Value word, one bit (0x80..0x01) a packed boolean, kByteCode a byte,
// kWordCode a 16-bit word. Positions are never handed out twice within a
// class: a later layout keeps the position of every slot whose kind is
// unchanged and puts the others after the end, so an older, smaller
// instance never holds a word of one kind where its class now expects
// another.
#pragma once
#include <cstring>

#include "core/memory.hpp"
#include "core/symbols.hpp"
#include "objects/state.hpp"

namespace objects {

using core::Tag;
using core::Value;

inline ObjectState& os() { return core::state_of<ObjectState>(kObjectsModule); }

inline uint32_t load32(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
inline void store32(uint8_t* p, uint32_t w) { std::memcpy(p, &w, 4); }
inline uint16_t load16(const uint8_t* p) {
  uint16_t w;
  std::memcpy(&w, p, 2);
  return w;
}
inline void store16(uint8_t* p, uint16_t w) { std::memcpy(p, &w, 2); }

// A Value field of a record, read or written through the record's node.
inline Value field(Value record, uint32_t offset) {
  return Value(load32(core::indirect_bytes(record) + offset));
}
inline void set_field(Value record, uint32_t offset, Value v) {
  store32(core::indirect_bytes(record) + offset, v.bits);
}

// The object header, shared by classes and instances.
constexpr uint32_t kClassOf = 0, kNativePart = 4, kOverrides = 8;

// Sets up a fresh class or instance record of `size` bytes at p: every
// byte zero, then the header: its class, no native part, no overrides.
inline void init_object_record(uint8_t* p, uint32_t size, Value cls) {
  std::memset(p, 0, size);
  store32(p + kClassOf, cls.bits);
  store32(p + kNativePart, core::kNil.bits);
  store32(p + kOverrides, core::kNil.bits);
}

// Class record.
constexpr uint32_t kName = 12, kTable = 16, kConstructor = 20, kSupers = 24, kSubs = 28, kGenealogy = 32,
                   kEntryCount = 36, kInstanceSize = 38, kLaidOut = 40, kUnited = 44, kClassBytes = 48;

// Instance record.
constexpr uint32_t kRecordSize = 12, kSlotStart = 16, kMaxInstanceSize = 65534;

// Slot descriptor: twelve Values, the storage kind byte, five 32-bit flags.
enum DescField : uint32_t {
  kDName = 0,
  kDClassValue = 4,
  kDDefault = 8,
  kDInitform = 12,
  kDInitialize = 16,
  kDLinker = 20,
  kDType = 24,
  kDReader = 28,
  kDWriter = 32,
  kDChooser = 36,
  kDOwner = 40,
  kDInfo = 44,
  kDKind = 48,
  kDAllocate = 50,
  kDLink = 54,
  kDList = 58,
  kDEditable = 62,
  kDInvalidate = 66,
  kDescriptorBytes = 70,
};

// Storage kinds as the descriptor records them.
enum Kind : uint8_t { kKindValue = 0, kKindBoolean = 1, kKindByte = 2, kKindWord = 3, kKindUnset = 4 };
constexpr uint8_t kByteCode = 0x0F, kWordCode = 0xF0;

// The largest member table: the largest vector block.
constexpr uint32_t kMaxTableEntries = 16383;

inline bool is_class(Value v) { return v.is(Tag::Class) && v != core::kNoObject; }
inline bool is_instance(Value v) { return v.is(Tag::Instance); }
inline bool is_object(Value v) { return is_instance(v) || is_class(v); }
// True unless nil or the no-value word: how flags and booleans read a value.
inline bool truth(Value v) { return !v.is_nil() && !v.is_no_value(); }

inline Value class_of(Value object) { return field(object, kClassOf); }
inline Value table_of(Value cls) { return field(cls, kTable); }

// Member table entries; an index past the end reads as absent.
inline uint32_t table_count(Value table) { return load16(core::indirect_bytes(table)); }
inline Value table_entry(Value table, uint32_t i) {
  const uint8_t* p = core::indirect_bytes(table);
  if (i >= load16(p)) return core::kEndArgs;
  return Value(load32(p + 2 + 4 * i));
}
inline void set_table_entry(Value table, uint32_t i, Value v) {
  store32(core::indirect_bytes(table) + 2 + 4 * i, v.bits);
}
constexpr uint16_t kNoIndex = 0xFFFF;
inline uint32_t symbol_slot(Value sym) { return core::record(sym).slot; }
// The entry of a class for a symbol (absent when the symbol has no index).
inline Value class_entry(Value cls, Value sym) {
  uint32_t i = symbol_slot(sym);
  return i == kNoIndex ? core::kEndArgs : table_entry(table_of(cls), i);
}

// Descriptor fields.
inline uint32_t desc_flag(Value desc, uint32_t offset) { return load32(core::indirect_bytes(desc) + offset); }
inline void set_desc_flag(Value desc, uint32_t offset, bool on) {
  store32(core::indirect_bytes(desc) + offset, on ? 1 : 0);
}
inline Value handle_descriptor(Value handle) { return core::cdr(handle); }
inline bool handle_allocated(Value handle) { return desc_flag(handle_descriptor(handle), kDAllocate) != 0; }

// Positions.
inline bool has_position(Value handle) { return core::car(handle).is_fixnum(); }
inline uint32_t position_offset(Value handle) { return core::car(handle).payload() >> 8; }
inline uint8_t position_code(Value handle) { return uint8_t(core::car(handle).payload() & 0xFF); }
inline Value make_position(uint32_t offset, uint8_t code) { return Value::make(Tag::Fixnum, (offset << 8) | code); }
inline Kind code_kind(uint8_t code) {
  if (code == 0) return kKindValue;
  if (code == kByteCode) return kKindByte;
  if (code == kWordCode) return kKindWord;
  return kKindBoolean;
}


}  // namespace objects
