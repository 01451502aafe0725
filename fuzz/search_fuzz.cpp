// Fuzz target for the search module: the extent scanner and the matcher
// (search-symbolic walked to the end, unify-expr on every expression found)
// over arbitrary source text with patterns read from the input, the buffer
// search with patterns cut from the input in every mode, search-not-ascii,
// and compare-buffers of the input's two halves. Every input must end in a
// value or a Lisp error; a crash, a sanitizer report or a read past a
// buffer is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/machine.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/reader.hpp"
#include "data/vectors.hpp"

namespace {
using namespace core;

Value quiet_handler(Value, Value, Value, Value, Value, Value) { return kNil; }
Value space_boundary(Value code) { return code.is_fixnum() && code.fixnum() == ' ' ? rt().sym.t : kNil; }

void setup() {
  register_native("fuzz-quiet-handler", &native_entry<quiet_handler>, 6, Tag::Primitive);
  register_native("fuzz-boundary", &native_entry<space_boundary>, 1, Tag::Primitive);
  set_symbol_value(rt().sym.Error_Handler, symbol_value(find_symbol("fuzz-quiet-handler")));
}

Runtime& machine() { return fuzzing::machine(setup); }

Value call(const char* name, std::initializer_list<Value> args) {
  Value f = symbol_value(find_symbol(name));
  uint32_t fixed = native_code(f) & kArityCount;
  StackMark mark;
  Value* base = rt().zones.sp;
  const Value* a = args.begin();
  for (uint32_t i = 0; i < fixed; ++i) push(i < args.size() ? a[i] : kNil);
  push(kEndArgs);
  return native_function(f)(base);
}

// Symbols ?, * and + of the read patterns become token variables of kinds
// 0, 2 and 1.
Value tokens(Value v, int depth) {
  if (depth > 50) return v;
  if (v.is_symbol()) {
    const char* s = symbol_text(v);
    int kind = std::strcmp(s, "?") == 0 ? 0 : std::strcmp(s, "*") == 0 ? 2 : std::strcmp(s, "+") == 0 ? 1 : -1;
    if (kind < 0) return v;
    return cons(symbol_value(intern_static("Symbolic-Token")), cons(make_fixnum(kind), kNil));
  }
  if (!v.is_pair()) return v;
  Value head = tokens(car(v), depth + 1);
  Value tail = tokens(cdr(v), depth + 1);
  return cons(head, tail);
}

// A pointer block holding the text, disposed when the holder goes, on an
// error as well.
struct Buffer {
  Addr a;
  Value box;
  explicit Buffer(const std::string& text) : a(data::new_pointer(uint32_t(text.size()))) {
    if (!text.empty()) std::memcpy(at_addr(a), text.data(), text.size());
    box = data::box_pointer(a);
  }
  ~Buffer() { data::dispose_pointer(a); }
};

void catching(void (*f)(const std::string&, Value), const std::string& text, Value arg) {
  try {
    f(text, arg);
  } catch (const Thrower&) {
  }
}

void structural(const std::string& text, Value patterns) {
  Buffer holder(text);
  Value buf = holder.box;
  Value len = make_fixnum(int32_t(text.size()));
  for (int siblings = 0; siblings < 2; ++siblings) {
    Value start = make_fixnum(0), end = make_fixnum(0);
    for (int steps = 0; steps < 300; ++steps) {
      Value r = call("search-symbolic", {patterns, buf, len, start, end, siblings ? rt().sym.t : kNil});
      if (!r.is_pair()) break;
      start = car(cdr(r));
      end = cdr(cdr(r));
      for (Value p = patterns; p.is_pair(); p = cdr(p)) call("unify-expr", {car(p), buf, len, start, end});
    }
  }
  // Every expression found by a pattern that matches anything.
  Value any = cons(cons(symbol_value(intern_static("Symbolic-Token")), cons(make_fixnum(0), kNil)), kNil);
  Value start = make_fixnum(0), end = make_fixnum(0);
  for (int steps = 0; steps < 300; ++steps) {
    Value r = call("search-symbolic", {any, buf, len, start, end, kNil});
    if (!r.is_pair()) break;
    start = car(cdr(r));
    end = cdr(cdr(r));
    for (Value p = patterns; p.is_pair(); p = cdr(p)) call("unify-expr", {car(p), buf, len, start, end});
  }
}

void buffer_searches(const std::string& text, Value patterns) {
  Buffer holder(text);
  Value buf = holder.box;
  int32_t n = int32_t(text.size());
  for (int mode = 0; mode < 8; ++mode) {
    Value back = mode & 1 ? rt().sym.t : kNil;
    Value nocase = mode & 2 ? rt().sym.t : kNil;
    Value words = mode & 4 ? intern_static("fuzz-boundary") : kNil;
    int32_t from = (mode & 1) ? n : 0;
    for (int steps = 0; steps < 16; ++steps) {
      Value r = call("search-buffer-subr", {patterns, buf, make_fixnum(from), make_fixnum(n), back, nocase, words});
      if (!r.is_pair()) break;
      int32_t at = cdr(r).fixnum();
      from = (mode & 1) ? at - 1 : at + 1;
      if (from < 0 || from > n) break;
    }
  }
  call("search-not-ascii", {buf, make_fixnum(0), make_fixnum(n)});
  int32_t half = n / 2;
  Buffer second(text.substr(size_t(half)));
  call("compare-buffers", {buf, make_fixnum(half), second.box, make_fixnum(n - half)});
}

void run(const uint8_t* data, size_t size) {
  size_t cut = std::min<size_t>(data[0], size - 1);
  std::string head(reinterpret_cast<const char*>(data + 1), cut);
  std::string text(reinterpret_cast<const char*>(data + 1 + cut), size - 1 - cut);
  for (char& c : head)
    if (c == 0) c = ' ';
  // Structural patterns: the data the reader finds in the head.
  Value patterns = kNil;
  try {
    patterns = tokens(data::parse_string(make_string(head.c_str())), 0);
  } catch (const Thrower&) {
    patterns = kNil;
  }
  catching(structural, text, patterns);
  // Buffer patterns: the head cut at blanks.
  Value strings = kNil;
  size_t at = 0;
  while (at < head.size()) {
    size_t stop = head.find(' ', at);
    if (stop == std::string::npos) stop = head.size();
    if (stop > at) strings = cons(make_string(head.substr(at, stop - at).c_str()), strings);
    at = stop + 1;
  }
  if (strings.is_pair()) catching(buffer_searches, text, strings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 20000) return 0;
  RuntimeScope scope(machine());
  try {
    run(data, size);
  } catch (const Thrower&) {
  }
  return 0;
}
