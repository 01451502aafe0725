// The printer: writes the text form of any Value to the current output sink
// in one of three styles. Plain (princ) writes strings and symbols bare;
// display (display) quotes strings and escapes symbol characters so that
// the text reads back as the same datum; write (write) accepts readable
// data only. Lines end with a single carriage return.
//
// The printer is bounded: a list whose cdrs run in a circle stops after one
// turn with " ...", deep nesting stops with error 61 through the native
// stack check, and printing to text stops once the buffer is full.
#pragma once
#include <string>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

enum class Style { Plain, Display, Write };

// Prints a value to the current output sink.
void print_value(core::Value v, Style style);
// The carriage return that ends a printed line.
void print_newline();

// The plain form of a value in a private buffer of 1024 characters.
std::string print_to_text(core::Value v);
// The printed text of a value, as text primitives and error reports use it.
std::string value_text(core::Value v);
// The same as a string: a string itself, a symbol its name string.
core::Value value_string(core::Value v);

extern const core::Module kPrinterModule;

}  // namespace data
