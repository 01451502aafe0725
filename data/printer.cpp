// The printing functions of the three styles and the printing primitives.
#include "data/printer.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/args.hpp"
#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/numbers.hpp"
#include "data/reader.hpp"
#include "data/streams.hpp"

namespace data {
using namespace core;

namespace {

constexpr size_t kTextLimit = 1024;

// Sets the escape mode for a scope and restores the previous one on every
// exit.
class EscapeGuard {
 public:
  explicit EscapeGuard(EscapeMode m) : saved_(data_state().escape) { data_state().escape = m; }
  ~EscapeGuard() { data_state().escape = saved_; }
  EscapeGuard(const EscapeGuard&) = delete;
  EscapeGuard& operator=(const EscapeGuard&) = delete;

 private:
  EscapeMode saved_;
};

// Sets the print-self flag while an object prints itself.
class PrintSelfGuard {
 public:
  PrintSelfGuard() { data_state().print_self = true; }
  ~PrintSelfGuard() { data_state().print_self = false; }
  PrintSelfGuard(const PrintSelfGuard&) = delete;
  PrintSelfGuard& operator=(const PrintSelfGuard&) = delete;
};

// One character of a string or symbol, with a backslash before it when the
// escape mode asks for one.
void put_escaped(int c) {
  EscapeMode m = data_state().escape;
  if (m != EscapeMode::None) {
    uint8_t k = char_class(c);
    bool escape = k == kStringQuote || k == kEscape;
    if (m == EscapeMode::Symbol && c != ':' && k != kDot && k != kConstituent && k != kDigit && k != kSignOrExponent)
      escape = true;
    if (escape) put_char('\\');
  }
  put_char(c);
}

// The characters of a text whose Value may move: copied first, since the
// sink may allocate (a stream method, the edit output).
void put_chars_of(Value text_value) {
  std::string text = text_value.is_symbol() ? symbol_text(text_value) : string_text(text_value);
  for (char c : text) {
    if (output_full()) return;
    put_escaped(uint8_t(c));
  }
}

void print_symbol(Value s, Style style) {
  if (style == Style::Plain) {
    put_chars_of(s);
  } else {
    EscapeGuard guard(EscapeMode::Symbol);
    put_chars_of(s);
  }
}

void print_string(Value s, Style style) {
  if (style == Style::Plain) {
    put_chars_of(s);
    return;
  }
  put_char('"');
  {
    EscapeGuard guard(EscapeMode::String);
    put_chars_of(s);
  }
  put_char('"');
}

void print_list(Value v, Style style) {
  put_char('(');
  Value rest = v;
  // The cdr chain is watched for a circle (Brent's method): a list that
  // comes back to itself is cut after at most two turns.
  Value tortoise = v;
  uint64_t power = 1, steps = 0;
  while (rest.is_pair()) {
    if (output_full()) return;
    print_value(car(rest), style);
    rest = cdr(rest);
    if (!rest.is_pair()) break;
    put_char(' ');
    if (rest == tortoise) {
      put_text("...)");
      return;
    }
    if (++steps == power) {
      tortoise = rest;
      power <<= 1;
      steps = 0;
    }
  }
  if (!rest.is_nil()) {
    put_text(" . ");
    print_value(rest, style);
  }
  put_char(')');
}

uint16_t read_u16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

Value element_at(Value block_owner, uint32_t byte_offset) {
  uint32_t w;
  std::memcpy(&w, indirect_bytes(block_owner) + byte_offset, 4);
  return Value(w);
}

void print_vector(Value v) {
  put_text("#(");
  uint16_t n = read_u16(indirect_bytes(v));
  for (uint32_t i = 0; i < n; ++i) {
    if (output_full()) return;
    if (i) put_char(' ');
    print_value(element_at(v, 2 + 4 * i), Style::Plain);
  }
  put_char(')');
}

// The elements of dimension `level` and below, starting at `first`; every
// level is one parenthesised list, the first index varying fastest.
void print_array_level(Value a, const std::vector<uint32_t>& dims, uint32_t level, uint32_t first,
                       uint32_t data) {
  uint32_t stride = 1;
  for (uint32_t k = 0; k < level; ++k) stride *= dims[k];
  put_char('(');
  for (uint32_t i = 0; i < dims[level]; ++i) {
    if (output_full()) return;
    if (i) put_char(' ');
    if (level == 0)
      print_value(element_at(a, data + 4 * (first + i)), Style::Plain);
    else
      print_array_level(a, dims, level - 1, first + i * stride, data);
  }
  put_char(')');
}

void print_array(Value a) {
  put_text("##");
  const uint8_t* p = indirect_bytes(a);
  uint16_t n = read_u16(p), count = read_u16(p + 2);
  std::vector<uint32_t> dims(count);
  uint64_t product = 1;
  for (uint32_t k = 0; k < count; ++k) product *= dims[k] = read_u16(p + 4 + 2 * k);
  if (count == 0 || product != n) {
    put_text("()");
    return;
  }
  print_array_level(a, dims, count - 1, 0, 4 + 2 * uint32_t(count));
}

// "#<instance CLASSNAME>": the instance's class is the first word of its
// record, the object header that classes and instances share.
void print_unprintable_instance(Value v) {
  uint32_t cls;
  std::memcpy(&cls, indirect_bytes(v), 4);
  bool mixin = false;
  Value name = data_state().class_name != nullptr && Value(cls).is(Tag::Class)
                   ? data_state().class_name(Value(cls), mixin)
                   : kNil;
  put_text("#<instance ");
  if (name.is_symbol()) put_chars_of(name);
  put_char('>');
}

void print_instance(Value v) {
  DataState& d = data_state();
  if (d.print_self || rt().hooks.send == nullptr) {
    put_text("#<instance>");
    return;
  }
  Value text;
  if (rt().error_formatting) {
    // Inside an error report an instance that cannot print itself (no
    // print-self, a failing one, or one that gives no string) is named by
    // its class, so that the report keeps its number and culprit.
    try {
      PrintSelfGuard guard;
      text = call_method(v, intern_static("print-self"), {});
    } catch (const ErrorPrinting&) {
      text = kNil;
    } catch (const Thrower&) {
      text = kNil;
    }
    if (!text.is(Tag::String)) return print_unprintable_instance(v);
  } else {
    PrintSelfGuard guard;
    text = call_method(v, intern_static("print-self"), {});
  }
  put_chars_of(arg_string(text));
}

void print_class(Value v) {
  if (v == kNoObject) {
    put_text("#<class TALVEN>");
    return;
  }
  bool mixin = false;
  Value name = data_state().class_name != nullptr ? data_state().class_name(v, mixin) : kNil;
  put_text(mixin ? "#<mixin " : "#<class ");
  if (name.is_symbol()) put_chars_of(name);
  put_char('>');
}

void print_function(Value v) {
  put_text("#<function ");
  Value source = cdr(v);
  if (source.is_pair() && car(source).is_pair() && car(car(source)).is_symbol()) put_chars_of(car(car(source)));
  put_char('>');
}

void print_pointer(Value v) {
  uint32_t kind = box_kind(v) & 15;
  Addr a = box_addr(v);
  char buf[128];
  if (a == 0) {
    std::snprintf(buf, sizeof buf, "<null %s>", box_kind_name(kind));
  } else if (box_kind(v) < 16 && rt().box_ops[kind].print != nullptr) {
    std::string text;
    rt().box_ops[kind].print(v, text);
    put_text(text.c_str());
    return;
  } else if (kind == kBoxMemory) {
    uint32_t h = pointer_handle(a);
    uint32_t size = h == 0 ? 0 : handle_size(h) - 4;
    std::snprintf(buf, sizeof buf, "<%s %" PRIx32 " of size %" PRIu32 ">", box_kind_name(kind), a, size);
  } else if (kind == kBoxHandle) {
    std::snprintf(buf, sizeof buf, "<%s %" PRIx32 " of size %" PRIu32 ">", box_kind_name(kind), a, handle_size(a));
  } else {
    std::snprintf(buf, sizeof buf, "<%s %" PRIx32 ">", box_kind_name(kind), a);
  }
  put_text(buf);
}

void print_integer(int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%" PRId32, n);
  put_text(buf);
}

bool writable(Value v) {
  switch (v.tag()) {
    case Tag::Fixnum: case Tag::Long: case Tag::Real: case Tag::String: case Tag::Symbol:
    case Tag::Variable: case Tag::Pair:
      return true;
    default:
      return false;
  }
}

}  // namespace

void print_value(Value v, Style style) {
  check_native_stack();
  if (output_full()) return;
  if (style == Style::Write && !writable(v)) error(Err::WrongType, v);
  switch (v.tag()) {
    case Tag::Fixnum: print_integer(v.fixnum()); return;
    case Tag::Long: print_integer(long_value(v)); return;
    case Tag::Real: put_text(format_real(real_value(v), char(data_state().decimal_mark))); return;
    case Tag::String: print_string(v, style); return;
    case Tag::Symbol: print_symbol(v, style); return;
    case Tag::Variable:
      put_char('_');
      print_symbol(cdr(v), style == Style::Plain ? Style::Plain : Style::Write);
      return;
    case Tag::Pair:
      if (v.is_nil())
        put_text("()");
      else
        print_list(v, style);
      return;
    case Tag::Vector: print_vector(v); return;
    case Tag::Array: print_array(v); return;
    case Tag::Instance: print_instance(v); return;
    case Tag::Class: print_class(v); return;
    case Tag::Lambda:
    case Tag::Syntax: print_function(v); return;
    case Tag::Predicate: put_text("#<predicate>"); return;
    case Tag::Primitive: {
      uint32_t code = native_code(v);
      char buf[48];
      std::snprintf(buf, sizeof buf, "#<primitive %" PRIu32 "%s>", code & kArityCount, (code & kArityRest) ? " *" : "");
      put_text(buf);
      return;
    }
    case Tag::Special: put_text("#<special>"); return;
    case Tag::Lexical: put_text("#<lexical lambda>"); return;
    case Tag::Gamma: put_text("#<function gamma>"); return;
    case Tag::Closed: put_text("#<closed gamma>"); return;
    case Tag::ClosedSyntax: put_text("#<closed syntax>"); return;
    case Tag::HashTable: put_text("<hash-table>"); return;
    case Tag::NoValue: put_text("<no-value>"); return;
    case Tag::Pointer: print_pointer(v); return;
    case Tag::Address:
      if (style == Style::Plain) {
        print_integer(v.fixnum());
      } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "<invalid node %" PRIx32 ">", v.bits);
        put_text(buf);
      }
      return;
    default: put_text("#<keyword>"); return;
  }
}

void print_newline() { put_char(13); }

std::string print_to_text(Value v) {
  std::string text;
  OutputGuard guard;
  EscapeGuard escape(EscapeMode::None);
  set_text_output(&text, kTextLimit);
  print_value(v, Style::Plain);
  return text;
}

std::string value_text(Value v) {
  switch (v.tag()) {
    case Tag::Fixnum:
    case Tag::Address: return std::to_string(v.fixnum());
    case Tag::Long: return std::to_string(long_value(v));
    case Tag::Real: return format_real(real_value(v), char(data_state().decimal_mark));
    case Tag::String: return string_text(v);
    case Tag::Symbol: return symbol_text(v);
    default: return print_to_text(v);
  }
}

Value value_string(Value v) {
  if (v.is(Tag::String)) return v;
  if (v.is_symbol()) return symbol_name(v);
  std::string text = value_text(v);
  return make_string(text.data(), text.size());
}

// ---- Primitives -------------------------------------------------------------------

namespace {

// The common frame of every printing primitive: the sink is selected for
// the call and restored after; the edit output is flushed at the end.
template <typename F>
Value printing(Value stream, F body) {
  OutputGuard guard;
  select_output(stream);
  body();
  flush_edit_output();
  if (data_state().term_line_flush) flush_terminal();
  return kNoValue;
}

}  // namespace

static Value prim_princ(Value v, Value stream) {
  printing(stream, [&] {
    print_value(v, Style::Plain);
    print_newline();
  });
  return v;
}

static Value prim_prin(Value v, Value stream) {
  printing(stream, [&] { print_value(v, Style::Plain); });
  return v;
}

static Value prim_fprinc(Value stream, Value v) {
  printing(stream, [&] {
    EscapeGuard escape(EscapeMode::Symbol);
    print_value(v, Style::Plain);
    print_newline();
  });
  return v;
}

static Value prim_fprin(Value stream, Value v) {
  printing(stream, [&] {
    EscapeGuard escape(EscapeMode::Symbol);
    print_value(v, Style::Plain);
  });
  return v;
}

static Value prim_display(Value v, Value stream) {
  printing(stream, [&] {
    print_value(v, Style::Display);
    print_newline();
  });
  return v;
}

static Value prim_displ(Value v, Value stream) {
  printing(stream, [&] { print_value(v, Style::Display); });
  return v;
}

static Value prim_write(Value v, Value stream) {
  printing(stream, [&] { print_value(v, Style::Write); });
  return v;
}

static Value prim_new_line(Value stream) {
  return printing(stream, [] { print_newline(); });
}

static const NativeRow kPrinterNatives[] = {
    TV_PRIM("princ", prim_princ, "(princ VALUE [STREAM]) prints VALUE plainly (strings and symbols bare), then a carriage return; returns VALUE"),
    TV_PRIM("prin", prim_prin, "(prin VALUE [STREAM]) prints VALUE plainly (strings and symbols bare); returns VALUE"),
    TV_PRIM("fprinc", prim_fprinc, "(fprinc STREAM VALUE) prints VALUE on STREAM as princ does, escaping characters as in a symbol name; returns VALUE"),
    TV_PRIM("fprin", prim_fprin, "(fprin STREAM VALUE) prints VALUE on STREAM as prin does, escaping characters as in a symbol name; returns VALUE"),
    TV_PRIM("display", prim_display, "(display VALUE [STREAM]) prints VALUE so it reads back (strings quoted, symbols escaped), then a carriage return; returns VALUE"),
    TV_PRIM("displ", prim_displ, "(displ VALUE [STREAM]) prints VALUE so it reads back (strings quoted, symbols escaped); returns VALUE"),
    TV_PRIM("write", prim_write, "(write VALUE [STREAM]) prints readable data so it reads back; error 2 for a value that cannot; returns VALUE"),
    TV_PRIM("new-line", prim_new_line, "(new-line [STREAM]) writes a carriage return; no value"),
};

static void install_module(core::Runtime&) {
  for (const char* name : {"write-proc", "print-self", "predicate"}) intern_static(name);
  register_natives(kPrinterNatives);
  rt().hooks.describe = value_text;
}

extern const core::Module kPrinterModule{"printer", nullptr, install_module};

}  // namespace data
