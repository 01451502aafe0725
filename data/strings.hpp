// Strings and characters: the text primitives, the code page 1252 case and
// accent tables and collation.
//
// A string is a zero-terminated 8-bit text in the heap zone and never holds
// the zero byte; a character is a fixnum whose low 8 bits are the code.
// Text primitives accept any value and work on its value text (the printed
// text of data::value_text), copied into native memory first, so nothing
// holds a pointer into the heap across an allocation. Every text result
// passes through new_string, which answers the shared empty string for an
// empty text and error 2 for a text too long for a 16-bit indirect size.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

// The longest text a string can hold: its bytes and the terminating zero
// fit a 16-bit indirect size.
constexpr size_t kMaxStringLength = 65534;

// The case and accent tables, indexed by a code page 1252 code.
enum class CharTable { Upper, Lower, Plain, Fold };
uint8_t map_char(CharTable table, uint8_t code);

// The value text of any value (a string's characters, a symbol's name, a
// number's printed form, the plain printed form of anything else).
std::string text_of(core::Value v);
// A new string of the text; the shared empty string when it is empty;
// error 2 with the length when it passes kMaxStringLength.
core::Value new_string(std::string_view text);

// Equality with options: byte for byte when both flags are set, otherwise
// through the upper, fold or plain table.
bool texts_equal(std::string_view a, std::string_view b, bool case_sensitive, bool accent_sensitive);
// The collation order of two texts: -1, 0 or 1. Case- and accent-
// insensitive, ties broken by the codes of the first differing bytes.
int collate(std::string_view a, std::string_view b);

// The decimal mark that reals are read with (the reader's, which
// `with-dot-mark` changes).
uint8_t decimal_mark();

// The code of a character argument (the low 8 bits of an integer);
// error 2 with the value for anything else.
uint8_t char_code(core::Value v);

extern const core::Module kStringsModule;

}  // namespace data
