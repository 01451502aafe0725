// The Value word and the node layout.
//
// Every Lisp datum is one 32-bit word: a 6-bit type tag in bits 24..29 and a
// 24-bit payload. Bits 31 (mark) and 30 (permanent) are always 0 in a Value;
// they are used only in the first word of a node by the collector. This is the
// only file that shifts or masks the bits of a Value.
#pragma once
#include <cstdint>

namespace core {

// Type tags of Value words, with the name that type-of answers ("" where
// type-of refuses the tag).
#define TALVEN_VALUE_TAGS(X)                 \
  X(Address, 0x00, "address")                \
  X(Fixnum, 0x02, "integer")                 \
  X(Real, 0x03, "real")                      \
  X(Variable, 0x04, "variable")              \
  X(NoValue, 0x05, "no-value")               \
  X(Vector, 0x06, "vector")                  \
  X(String, 0x07, "string")                  \
  X(Symbol, 0x08, "symbol")                  \
  X(Syntax, 0x09, "syntax")                  \
  X(Instance, 0x0A, "")                      \
  X(Lambda, 0x0B, "function")                \
  X(Primitive, 0x0C, "primitive")            \
  X(Special, 0x0D, "special")                \
  X(Predicate, 0x0E, "predicate")            \
  X(Class, 0x0F, "")                         \
  X(HashTable, 0x10, "hash-table")           \
  X(Lexical, 0x11, "lexical")                \
  X(Gamma, 0x12, "gamma")                    \
  X(Long, 0x13, "long")                      \
  X(Pointer, 0x14, "pointer")                \
  X(Closed, 0x15, "closed")                  \
  X(LinkCache, 0x16, "")                     \
  X(VarCell, 0x1B, "")                       \
  X(EndArgs, 0x1F, "")                       \
  X(SyntaxGamma, 0x23, "syntax-gamma")       \
  X(ClosedSyntax, 0x33, "closed-syntax")     \
  X(Record, 0x3A, "")                        \
  X(ByteBlock, 0x3B, "")                     \
  X(SlotHandle, 0x3D, "")                    \
  X(Array, 0x3E, "")                         \
  X(Pair, 0x3F, "list")

enum class Tag : uint8_t {
#define TALVEN_X(name, num, text) name = num,
  TALVEN_VALUE_TAGS(TALVEN_X)
#undef TALVEN_X
};

// Header tags: the tag of a non-pair node's first word.
enum class Header : uint8_t {
  Array = 0x17,
  Long = 0x18,  // also natives' arity descriptor and lexical environment cells
  HashTable = 0x1A,
  Vector = 0x1C,
  Real = 0x1D,
  String = 0x1E,
  Pointer = 0x35,
  Record = 0x37,
  Class = 0x38,
  Instance = 0x39,
  ByteBlock = 0x3C,
};

// Built-in syntax words occupy tags 0x20..0x36 except 0x23, 0x33 and 0x35.
constexpr bool is_syntax_word_tag(unsigned t) {
  return t >= 0x20 && t <= 0x36 && t != 0x23 && t != 0x33 && t != 0x35;
}

constexpr uint32_t kTagMask = 0x3F000000u;
constexpr uint32_t kPayloadMask = 0x00FFFFFFu;
constexpr uint32_t kMarkBit = 0x80000000u;
constexpr uint32_t kPermanentBit = 0x40000000u;

struct Value {
  uint32_t bits;

  constexpr Value() : bits(0x3F000000u) {}
  constexpr explicit Value(uint32_t raw) : bits(raw) {}
  static constexpr Value make(Tag t, uint32_t payload) {
    return Value((uint32_t(t) << 24) | (payload & kPayloadMask));
  }
  static constexpr Value from_bits(uint32_t raw) { return Value(raw); }

  constexpr unsigned tag_number() const { return (bits >> 24) & 0x3F; }
  constexpr Tag tag() const { return Tag(tag_number()); }
  constexpr uint32_t payload() const { return bits & kPayloadMask; }
  constexpr bool is(Tag t) const { return tag_number() == unsigned(t); }
  constexpr Value retag(Tag t) const { return make(t, payload()); }

  constexpr bool is_nil() const { return bits == 0x3F000000u; }
  // The pair tag is the highest: a pair is any word above nil's below the
  // mark bits.
  constexpr bool is_pair() const { return (bits & 0x3FFFFFFFu) > 0x3F000000u; }
  constexpr bool is_no_value() const { return bits == 0x05000000u; }
  constexpr bool is_end() const { return bits == 0x1F000000u; }
  constexpr bool is_fixnum() const { return is(Tag::Fixnum); }
  constexpr bool is_symbol() const { return is(Tag::Symbol); }
  // Only nil is false.
  constexpr bool truthy() const { return !is_nil(); }

  // Fixnum payload, sign-extended from bit 23.
  constexpr int32_t fixnum() const { return int32_t(bits << 8) >> 8; }

  constexpr bool operator==(Value o) const { return bits == o.bits; }
  constexpr bool operator!=(Value o) const { return bits != o.bits; }
};
static_assert(sizeof(Value) == 4);

constexpr Value kNil = Value(0x3F000000u);
constexpr Value kNoValue = Value(0x05000000u);
constexpr Value kEndArgs = Value(0x1F000000u);
constexpr Value kNoObject = Value(0x0F000000u);

constexpr int32_t kFixnumMin = -8388607;
constexpr int32_t kFixnumMax = 8388606;

// True when n fits the fixnum range; 8388607 and -8388608 do not.
constexpr bool fits_fixnum(int64_t n) { return n >= kFixnumMin && n <= kFixnumMax; }
constexpr Value make_fixnum(int32_t n) {
  return Value((uint32_t(n) & kPayloadMask) | 0x02000000u);
}

// A node: two 32-bit words. For a pair both are Values; otherwise the first
// word is a header (tag + payload, plus the collector's bits) and the second
// the body: a Value, an integer, or a region address.
struct Node {
  uint32_t car;
  uint32_t cdr;
};
static_assert(sizeof(Node) == 8);

// Header words and the collector's bits in a node's first word.
constexpr uint32_t make_header(Header h, uint32_t payload) {
  return (uint32_t(h) << 24) | (payload & kPayloadMask);
}
constexpr unsigned word_tag(uint32_t w) { return (w >> 24) & 0x3F; }
constexpr uint32_t word_payload(uint32_t w) { return w & kPayloadMask; }
constexpr bool word_marked(uint32_t w) { return (w & (kMarkBit | kPermanentBit)) != 0; }
// A node's first word as a Value: the collector's bits cleared.
constexpr Value word_value(uint32_t w) { return Value(w & ~(kMarkBit | kPermanentBit)); }

}  // namespace core
