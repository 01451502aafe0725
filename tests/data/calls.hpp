// Calls registered natives by name, through the evaluator's own call path
// (core::call_by_name): fixed arguments padded with nil, then the rest
// (last-first for a reversed code) and the end-of-arguments marker, all on
// the Lisp stack where the collector sees them.
#pragma once
#include <initializer_list>
#include <string>

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "tests/core/fixture.hpp"

namespace core::testing {

class NativeCallTest : public MachineTest {
 protected:
  Value callv(const char* name, std::initializer_list<Value> args) {
    Value f = symbol_value(find_symbol(name));
    EXPECT_TRUE(f.is(Tag::Primitive)) << name;
    return call_by_name(f, args);
  }
  // The error number and culprit text of a call, or -1 when it returns.
  template <typename F>
  int error_in(F f, std::string* culprit = nullptr) {
    int n = error_of(f);
    if (culprit && n >= 0) *culprit = text(rt().last_error.culprit);
    return n;
  }

  Value str(const char* s) { return make_string(s); }
  Value fix(int32_t n) { return make_integer(n); }
  Value t() { return rt().sym.t; }
  Value list(std::initializer_list<Value> xs) {
    Value out = kNil;
    for (auto it = xs.end(); it != xs.begin();) out = cons(*--it, out);
    return out;
  }
  // A printed form good enough to compare results: strings bare, lists
  // parenthesised.
  std::string text(Value v) {
    if (v.is(Tag::String)) return string_text(v);
    if (v.is_symbol()) return symbol_text(v);
    if (v.is_fixnum()) return std::to_string(v.fixnum());
    if (v.is(Tag::Long)) return std::to_string(long_value(v));
    if (v.is(Tag::Real)) return std::to_string(real_value(v));
    if (v.is_nil()) return "()";
    if (v.is_pair()) {
      std::string out = "(";
      for (bool first = true; v.is_pair(); v = cdr(v), first = false) out += (first ? "" : " ") + text(car(v));
      if (!v.is_nil()) out += " . " + text(v);
      return out + ")";
    }
    if (v.is_no_value()) return "<no-value>";
    return "#<" + std::to_string(v.tag_number()) + ">";
  }
};

}  // namespace core::testing
