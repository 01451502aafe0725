// Numbers: fixnums, long integers and reals, their syntax and printed
// form, and the numeric primitives.
//
// Integer arithmetic is 32-bit two's complement and wraps silently; every
// integer result goes through core::make_integer, so a result never depends
// on how its operands were boxed. As soon as a real takes part, arithmetic
// continues in doubles.
#pragma once
#include <cstdint>
#include <string>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

// The integer syntax over a zero-terminated text: blanks, an optional minus
// sign, up to 10 digits, blanks; the value must fit 32 bits.
bool parse_integer_text(const char* text, int32_t& out);
// The real syntax with `mark` as the decimal point; the exponent letter may
// stand without digits ("12e" is 12.0).
bool parse_real_text(const char* text, char mark, double& out);

// The printed form of a real: 15 significant digits, the decimal mark in
// place of the period, and ".0" added to a text without a point or exponent.
std::string format_real(double d, char mark);

// A double truncated toward zero, as an integer; error 2 with the real when
// it lies outside the 32-bit range (or is not a number).
core::Value real_to_integer(double d);

// One draw of the generator (0..32767).
int random_draw();

extern const core::Module kNumbersModule;

}  // namespace data
