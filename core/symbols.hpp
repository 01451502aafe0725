// The symbol table: fixed-size open addressing over the symbol zone.
//
// A symbol Value is the byte offset of its 16-byte record. Every symbol holds
// its global value in the record, so evaluation reads it with one load and
// never searches by name; names are interned only when text is read or a
// native is registered. Symbols are never removed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/memory.hpp"

namespace core {

struct SymbolRecord {
  uint32_t name;   // string Value; 0 marks an empty slot
  uint32_t value;  // the global value; no-value when unbound
  uint32_t owner;  // 0, a class, or the end-of-arguments marker
  uint16_t slot;   // object-system table number, 0xFFFF when none
  int16_t twin;    // keyword/plain counterpart's table slot, -1 when none
};
static_assert(sizeof(SymbolRecord) == 16);

inline SymbolRecord& record(Value sym) {
  return *reinterpret_cast<SymbolRecord*>(rt().zones.symbols + sym.payload());
}
inline Value symbol_value(Value sym) { return Value(record(sym).value); }
inline void set_symbol_value(Value sym, Value v) { record(sym).value = v.bits; }
inline Value symbol_name(Value sym) { return Value(record(sym).name); }
inline const char* symbol_text(Value sym) { return string_text(symbol_name(sym)); }
inline uint32_t symbol_index(Value sym) { return sym.payload() / 16; }
inline Value symbol_at(uint32_t index) { return Value::make(Tag::Symbol, 16 * index); }

// The hash of a name: h = 2h + c over unsigned bytes, wrapping at 32 bits.
uint32_t symbol_hash(std::string_view text);

// Interns a name whose text lives for the whole run (a program constant):
// its name is a permanent string outside the zones. When the name exists,
// its value becomes `initial` only if it is unbound.
Value intern_static(std::string_view text, Value initial = kNoValue);
// Interns a name read at run time: its name is a permanent heap copy.
Value intern_copy(std::string_view text, Value initial = kNoValue);
// The existing symbol of that name, or nil; never creates.
Value find_symbol(std::string_view text);
// The keyword of a name: ":" + name, interned, bound to itself.
Value make_keyword(std::string_view name);
inline bool is_keyword(Value sym) { return sym.is_symbol() && symbol_text(sym)[0] == ':'; }

// Interns the runtime's well-known symbols.
void intern_well_known(Runtime& r);
extern const Module kSymbolsModule;

}  // namespace core
