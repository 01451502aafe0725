// A minimal printer, enough for error reports until the full printer lands.
#include "data/printer.hpp"

#include "core/memory.hpp"
#include "core/symbols.hpp"

namespace data {
using namespace core;

std::string value_text(Value v) {
  if (v.is_nil()) return "()";
  if (v.is_fixnum()) return std::to_string(v.fixnum());
  if (v.is(Tag::Long)) return std::to_string(long_value(v));
  if (v.is_symbol()) return symbol_text(v);
  if (v.is(Tag::String)) return string_text(v);
  if (v.is_pair()) {
    std::string out = "(";
    int n = 0;
    for (; v.is_pair() && n < 1000; v = cdr(v), ++n) {
      if (n) out += ' ';
      out += value_text(car(v));
    }
    if (!v.is_nil()) out += " . " + value_text(v);
    return out + ")";
  }
  return "#<" + std::to_string(v.tag_number()) + ">";
}

}  // namespace data
