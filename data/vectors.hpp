// Vectors and arrays: indirect objects whose blocks live in the heap zone.
//
// A vector block is a 16-bit count n followed by n Value words (2 + 4n
// bytes). An array block is a 16-bit element count n, a 16-bit dimension
// count d, the d 16-bit dimensions, then the n Value words (4 + 2d + 4n
// bytes), the first index varying fastest. No block passes 65535 bytes: a
// larger request is error 2 with its size. The words sit at offsets that
// are not multiples of 4, so they are always read and written with memcpy,
// and always through a pointer derived again after any allocation.
#pragma once
#include <cstdint>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

constexpr uint32_t kMaxVectorLength = 16383;

// A new vector of n elements, each the fill value; error 2 with n past the
// largest vector.
core::Value make_vector(uint32_t n, core::Value fill);
// Count and elements of a vector (error 2 for anything else).
uint32_t vector_length(core::Value v);
core::Value vector_element(core::Value v, uint32_t i);
void set_vector_element(core::Value v, uint32_t i, core::Value x);

extern const core::Module kVectorsModule;

}  // namespace data
