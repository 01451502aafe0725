// Vectors and arrays: indirect objects whose blocks live in the heap zone,
// laid out as core/blocks.hpp says. No block passes 65535 bytes: a larger
// request is error 2 with its size.
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
