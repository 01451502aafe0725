// Typed argument getters for natives.
//
// Each answers an argument in its native form, or raises error 2 (wrong
// type or bad argument) with the argument itself as the culprit, so that
// every native reports a bad argument the same way. A native writes
//   uint32_t n = arg_count(size);
// rather than testing the tag and calling error by hand.
#pragma once
#include <cstdint>
#include <string_view>

#include "core/memory.hpp"

namespace core {

// The value itself when it has the tag.
inline Value arg_tagged(Value v, Tag tag) {
  if (!v.is(tag)) error(Err::WrongType, v);
  return v;
}

// A fixnum's integer (a long is refused).
inline int32_t arg_fixnum(Value v) { return arg_tagged(v, Tag::Fixnum).fixnum(); }
// A fixnum's or long's integer.
inline int32_t arg_int(Value v) { return read_integer(v); }
// A non-negative integer: a count, size or index.
inline uint32_t arg_count(Value v) {
  int32_t n = read_integer(v);
  if (n < 0) error(Err::WrongType, v);
  return uint32_t(n);
}
// An integer in [low, high].
inline int32_t arg_int_in(Value v, int32_t low, int32_t high) {
  int32_t n = read_integer(v);
  if (n < low || n > high) error(Err::WrongType, v);
  return n;
}
// An index below `limit`.
inline uint32_t arg_index(Value v, uint32_t limit) {
  int32_t n = read_integer(v);
  if (n < 0 || uint32_t(n) >= limit) error(Err::WrongType, v);
  return uint32_t(n);
}
// Any number as a double.
inline double arg_number(Value v) { return read_double(v); }

inline Value arg_symbol(Value v) { return arg_tagged(v, Tag::Symbol); }
inline Value arg_string(Value v) { return arg_tagged(v, Tag::String); }
inline Value arg_vector(Value v) { return arg_tagged(v, Tag::Vector); }
inline Value arg_array(Value v) { return arg_tagged(v, Tag::Array); }
inline Value arg_hash_table(Value v) { return arg_tagged(v, Tag::HashTable); }
inline Value arg_pointer(Value v) { return arg_tagged(v, Tag::Pointer); }
// A non-empty list.
inline Value arg_pair(Value v) {
  if (!v.is_pair()) error(Err::WrongType, v);
  return v;
}
// The text of a string argument: valid until the next allocation.
inline std::string_view arg_text(Value v) { return string_text(arg_string(v)); }

}  // namespace core
