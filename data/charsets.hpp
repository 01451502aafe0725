// Character sets: the conversion tables between the classic desktop's Mac
// character set, the Windows set (code page 1252) and ISO Latin-1, the
// conversions on strings and on text in native memory, and the string
// primitives that read and write text at a pointer. (Code page 1252 and
// UTF-8 are the text codec's, text/codec.hpp.)
//
// Every table entry is the counterpart's code, or 0 when the character has
// none. The tables are built from the characters' Unicode code points (the
// Windows ones from the text codec), so
// each entry follows from the two sets' definitions; a few entries are
// chosen on purpose (the en dash and the currency sign, the control codes).
// Raw memory is only touched after the bytes are found inside one live block
// of the address region; anything else is error 2 with the pointer.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

enum class Charset { MacToWindows, WindowsToMac, IsoToMac };

// The counterpart of a code in the other set, or 0.
uint8_t convert_char(Charset table, uint8_t code);

// The native bytes [p, p + n) of a pointer argument (any pointer box but a
// handle), checked as data::readable_bytes does for reading and
// data::writable_bytes for writing; error 2 with the value otherwise.
const uint8_t* pointer_bytes(core::Value pointer, uint32_t n);
uint8_t* writable_pointer_bytes(core::Value pointer, uint32_t n);

extern const core::Module kCharsetsModule;

}  // namespace data
