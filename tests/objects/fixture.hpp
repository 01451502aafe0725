// A fresh machine with a tiny form builder for the object system's units:
// integers, symbols, keywords, `_x` variables and quote.
#pragma once
#include <cctype>
#include <string>

#include "../core/fixture.hpp"
#include "../core/forms.hpp"
#include "core/eval.hpp"
#include "objects/objects.hpp"

namespace core::testing {

inline Value t_add(Value a, Value b) { return make_integer(read_integer(a) + read_integer(b)); }
inline Value t_sub(Value a, Value b) { return make_integer(read_integer(a) - read_integer(b)); }
inline Value t_num_eq(Value a, Value b) { return read_integer(a) == read_integer(b) ? rt().sym.t : kNil; }

class ObjectTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    // The list and number primitives these tests use, in case their
    // libraries are not registered (the first registration of a name wins).
    static const NativeRow rows[] = {TV_PRIM("car", t_car),   TV_PRIM("cdr", t_cdr), TV_PRIM("cons", t_cons),
                                     TV_PRIM("list", t_list), TV_PRIM("+", t_add),   TV_PRIM("-", t_sub),
                                     TV_PRIM("=", t_num_eq)};
    register_natives(rows);
  }
  Value form(const std::string& text) {
    size_t i = 0;
    return parse_form(text, i);
  }
  // Evaluates each form of the text in turn, as a toplevel would; the value
  // of the last.
  Value run(const std::string& text) {
    size_t i = 0;
    Value v = kNoValue;
    while (true) {
      while (i < text.size() && std::isspace(uint8_t(text[i]))) ++i;
      if (i >= text.size()) return v;
      try {
        v = eval(parse_form(text, i));
      } catch (const Thrower&) {
        ADD_FAILURE() << "error " << rt().last_error.number << " " << show(rt().last_error.culprit) << " in " << text;
        throw;
      }
    }
  }
  // The same, for forms expected to fail.
  Value run_quiet(const std::string& text) {
    size_t i = 0;
    Value v = kNoValue;
    while (true) {
      while (i < text.size() && std::isspace(uint8_t(text[i]))) ++i;
      if (i >= text.size()) return v;
      v = eval(parse_form(text, i));
    }
  }
  int32_t num(const std::string& text) { return read_integer(run(text)); }
  int error_in(const std::string& text) {
    return error_of([&] { run_quiet(text); });
  }
  Value culprit() { return rt().last_error.culprit; }
  std::string show(Value v) {
    if (v.is_fixnum()) return std::to_string(v.fixnum());
    if (v.is(Tag::Long)) return std::to_string(long_value(v));
    if (v.is_symbol()) return symbol_text(v);
    if (v.is_no_value()) return "<no-value>";
    if (v.is_nil()) return "()";
    if (v.is(Tag::Class) && v != kNoObject) return "#<class " + show(objects::class_name(v)) + ">";
    if (v.is(Tag::Instance)) return "#<instance>";
    if (v.is_pair()) {
      std::string s = "(";
      for (; v.is_pair(); v = cdr(v)) s += show(car(v)) + (cdr(v).is_pair() ? " " : "");
      if (!v.is_nil()) s += " . " + show(v);
      return s + ")";
    }
    return "#<" + std::to_string(v.tag_number()) + ">";
  }
  std::string show_run(const std::string& text) { return show(run(text)); }
};

}  // namespace core::testing
