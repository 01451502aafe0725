// The vector and array primitives.
#include "data/vectors.hpp"

#include <algorithm>
#include <cstring>

#include "core/args.hpp"
#include "core/blocks.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"

namespace data {
using namespace core;

namespace {

constexpr uint32_t kMaxBlock = 65535;

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }



[[noreturn]] void size_error(uint64_t size) { error(Err::WrongType, make_integer(int32_t(std::min<uint64_t>(size, INT32_MAX)))); }


// ---- Arrays -----------------------------------------------------------------------

uint32_t array_count(Value a) { return block_count(indirect_bytes(a)); }
uint32_t array_rank(Value a) { return array_rank_of(indirect_bytes(a)); }
uint32_t array_dimension(Value a, uint32_t k) { return array_dimension_of(indirect_bytes(a), k); }
uint32_t array_data(Value a) { return array_words_at(array_rank(a)); }

// The storage position of the element named by the indices (a marker-ended
// vector): every index below its dimension, exactly one index per dimension.
uint32_t array_position(Value a, Value* indices) {
  if (!a.is(Tag::Array) || indices[0].is_end()) error(Err::WrongType, kNil);
  uint32_t rank = array_rank(a);
  if (rank == 0) error(Err::WrongType, indices[0]);
  uint64_t position = arg_index(indices[0], array_dimension(a, 0));
  uint64_t multiplier = 1;
  uint32_t k = 1;
  for (; k < rank && !indices[k].is_end(); ++k) {
    multiplier *= array_dimension(a, k - 1);
    position += multiplier * arg_index(indices[k], array_dimension(a, k));
  }
  if (k < rank) error(Err::WrongType, kNil);
  if (!indices[k].is_end()) error(Err::WrongType, indices[k]);
  // Every index lies below its dimension, so the position lies below the
  // element count.
  return uint32_t(position);
}

// ---- Vector primitives ------------------------------------------------------------

Value prim_vector(Value* rest) {
  uint32_t n = 0;
  while (!rest[n].is_end()) ++n;
  if (n > kMaxVectorLength) size_error(vector_block_size(0) + 4ull * n);
  // The arguments stay on the Lisp stack, where the collector sees them.
  Value v = make_vector(n, kNil);
  for (uint32_t i = 0; i < n; ++i) set_vector_element(v, i, rest[i]);
  return v;
}

Value prim_make_vector(Value n, Value fill) {
  return make_vector(uint32_t(arg_int_in(n, 0, int32_t(kMaxVectorLength))), fill);
}

Value prim_vector_p(Value x) { return boolean(x.is(Tag::Vector)); }
Value prim_vector_length(Value v) { return make_fixnum(int32_t(vector_length(v))); }

Value prim_vector_ref(Value v, Value index) {
  return vector_element(v, arg_index(index, vector_length(v)));
}

Value prim_vector_set_x(Value v, Value index, Value x) {
  set_vector_element(v, arg_index(index, vector_length(v)), x);
  return x;
}

Value prim_list_to_vector(Value list) {
  uint32_t n = 0;
  for (Value p = list; p.is_pair(); p = cdr(p))
    if (++n > kMaxVectorLength) size_error(vector_block_size(0) + 4ull * n);
  Value v = make_vector(n, kNil);
  uint32_t i = 0;
  for (Value p = list; p.is_pair() && i < n; p = cdr(p)) set_vector_element(v, i++, car(p));
  return v;
}

Value prim_vector_to_list(Value v) {
  uint32_t n = vector_length(v);
  Value out = kNil;
  for (uint32_t i = n; i-- > 0;) out = cons(vector_element(v, i), out);
  return out;
}

Value prim_copy_vector(Value v) {
  uint32_t n = vector_length(v);
  Value copy = make_vector(n, kNil);
  std::memcpy(indirect_bytes(copy) + 2, indirect_bytes(v) + 2, 4ull * n);
  return copy;
}

// ---- Array primitives -------------------------------------------------------------

Value prim_make_array(Value* dims) {
  uint32_t rank = 0;
  uint64_t count = 1;
  for (; !dims[rank].is_end(); ++rank) {
    Value d = dims[rank];
    if (!is_integer(d) || read_integer(d) < 0 || read_integer(d) > 0xFFFF) error(Err::WrongType, d);
    count = std::min<uint64_t>(count * uint64_t(read_integer(d)), uint64_t(1) << 32);
  }
  uint64_t size = array_words_at(rank) + 4 * count;
  if (size > kMaxBlock) size_error(size);
  reserve_heap(uint32_t(size));
  uint8_t* p = heap_top_ptr();
  set_block_count(p, uint32_t(count));
  store_ne16(p + 2, uint16_t(rank));
  for (uint32_t k = 0; k < rank; ++k) store_ne16(p + 4 + 2 * k, uint16_t(read_integer(dims[k])));
  for (uint32_t i = 0; i < count; ++i) set_block_word(p + array_words_at(rank), i, make_fixnum(0));
  return alloc_indirect(uint32_t(size), Tag::Array, Header::Array);
}

Value prim_array_p(Value x) { return boolean(x.is(Tag::Array)); }

// The array comes first among the rest arguments.
Value prim_array_ref(Value* args) {
  if (args[0].is_end()) error(Err::WrongType, kNil);
  Value a = args[0];
  uint32_t i = array_position(a, args + 1);
  return block_word(indirect_bytes(a) + array_data(a), i);
}

Value prim_array_set_x(Value* args) {
  if (args[0].is_end() || args[1].is_end()) error(Err::WrongType, kNil);
  Value a = args[0];
  Value x = args[1];
  uint32_t i = array_position(a, args + 2);
  set_block_word(indirect_bytes(a) + array_data(a), i, x);
  return x;
}

Value prim_copy_array(Value from, Value to) {
  arg_array(from);
  arg_array(to);
  uint32_t n = array_count(from);
  if (n > array_count(to)) error(Err::WrongType, to);
  std::memmove(indirect_bytes(to) + array_data(to), indirect_bytes(from) + array_data(from), 4ull * n);
  return kNoValue;
}

const NativeRow kVectorNatives[] = {
    TV_PRIM("vector", prim_vector, "(vector X...) a new vector of the arguments"),
    TV_PRIM("make-vector", prim_make_vector, "(make-vector N [FILL]) a new vector of N elements (up to 16383), each FILL"),
    TV_PRIM("vector?", prim_vector_p, "(vector? X) t for a vector"),
    TV_PRIM("vector-length", prim_vector_length, "(vector-length VECTOR) the number of elements of VECTOR"),
    TV_PRIM("vector-ref", prim_vector_ref, "(vector-ref VECTOR INDEX) the element at INDEX; error 2 past the end"),
    TV_PRIM("vector-set!", prim_vector_set_x, "(vector-set! VECTOR INDEX VALUE) stores VALUE at INDEX; returns VALUE; error 2 past the end"),
    TV_PRIM("list->vector", prim_list_to_vector, "(list->vector LIST) a new vector of the elements of LIST"),
    TV_PRIM("vector->list", prim_vector_to_list, "(vector->list VECTOR) a new list of the elements of VECTOR"),
    TV_PRIM("copy-vector", prim_copy_vector, "(copy-vector VECTOR) a new vector of the same elements (not themselves copied)"),
    TV_PRIM("make-array", prim_make_array, "(make-array DIM...) a new array of the dimensions (0 to 65535 each), every element 0"),
    TV_PRIM("array?", prim_array_p, "(array? X) t for an array"),
    TV_PRIM("array-ref", prim_array_ref, "(array-ref ARRAY INDEX...) the element at the indices (one per dimension, the first varying fastest)"),
    TV_PRIM("array-set!", prim_array_set_x, "(array-set! ARRAY VALUE INDEX...) stores VALUE at the indices; returns VALUE"),
    TV_PRIM("copy-array", prim_copy_array, "(copy-array FROM TO) copies the elements of array FROM into the same places of TO (error 2 when TO is smaller); no value"),
};

}  // namespace

Value make_vector(uint32_t n, Value fill) {
  if (n > kMaxVectorLength) size_error(vector_block_size(0) + 4ull * n);
  uint32_t size = vector_block_size(n);
  reserve_heap(size);
  uint8_t* p = heap_top_ptr();
  set_block_count(p, n);
  for (uint32_t i = 0; i < n; ++i) set_block_word(p + kVectorWordsAt, i, fill);
  return alloc_indirect(size, Tag::Vector, Header::Vector);
}

uint32_t vector_length(Value v) { return block_count(indirect_bytes(arg_vector(v))); }

Value vector_element(Value v, uint32_t i) { return block_word(indirect_bytes(v) + kVectorWordsAt, i); }

void set_vector_element(Value v, uint32_t i, Value x) { set_block_word(indirect_bytes(v) + kVectorWordsAt, i, x); }

extern const core::Module kVectorsModule{"vectors", nullptr, [](core::Runtime&) {
                                           register_natives(kVectorNatives);
                                           set_inline_op(&native_entry<prim_vector_ref>, InlineOp::VectorRef);
                                           set_inline_op(&native_entry<prim_vector_set_x>, InlineOp::VectorSet);
                                         }};

}  // namespace data
