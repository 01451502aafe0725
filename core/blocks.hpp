// The layout of vector and array blocks, the one place that knows it.
//
// A vector block is a 16-bit count n followed by n Value words (2 + 4n
// bytes). An array block is a 16-bit element count n, a 16-bit dimension
// count d, the d 16-bit dimensions, then the n Value words (4 + 2d + 4n
// bytes), the first index varying fastest. The words sit at offsets that
// are not multiples of 4, so they are always read and written through
// these loads and stores; the block pointer is derived again after any
// allocation, since heap blocks move.
#pragma once
#include <cstdint>

#include "core/bytes.hpp"
#include "core/value.hpp"

namespace core {

// The element count of a vector or array block.
inline uint32_t block_count(const uint8_t* b) { return load_ne16(b); }
inline void set_block_count(uint8_t* b, uint32_t n) { store_ne16(b, uint16_t(n)); }
// An array block's dimension count and k-th dimension.
inline uint32_t array_rank_of(const uint8_t* b) { return load_ne16(b + 2); }
inline uint32_t array_dimension_of(const uint8_t* b, uint32_t k) { return load_ne16(b + 4 + 2 * k); }

// Where the words start, and the whole block's size.
constexpr uint32_t kVectorWordsAt = 2;
constexpr uint32_t array_words_at(uint32_t rank) { return 4 + 2 * rank; }
constexpr uint32_t vector_block_size(uint32_t n) { return kVectorWordsAt + 4 * n; }
constexpr uint32_t array_block_size(uint32_t n, uint32_t rank) { return array_words_at(rank) + 4 * n; }

// The i-th word from the start of the words.
inline Value block_word(const uint8_t* words, uint32_t i) { return Value(load_ne32(words + 4 * i)); }
inline void set_block_word(uint8_t* words, uint32_t i, Value v) { store_ne32(words + 4 * i, v.bits); }

}  // namespace core
