// Every special and built-in syntax word applied to argument lists of the
// wrong shape: missing forms and dotted tails answer error 2 with the form,
// and no shape reads past the end of its list.
#include <string>
#include <vector>

#include "core/eval.hpp"
#include "fixture.hpp"

namespace core::testing {
namespace {

using FormShapes = MachineTest;

// The names whose global value is a special or a built-in syntax word.
std::vector<Value> special_words() {
  std::vector<Value> out;
  Zones& z = rt().zones;
  for (uint32_t i = 0; i < z.symbol_slots; ++i) {
    const auto& rec = *reinterpret_cast<const SymbolRecord*>(z.symbols + 16ull * i);
    if (rec.name == 0) continue;
    Value v(rec.value);
    if (v.is(Tag::Special) || is_syntax_word_tag(v.tag_number())) out.push_back(Value::make(Tag::Symbol, 16 * i));
  }
  return out;
}

TEST_F(FormShapes, EverySpecialRejectsDottedTailsAndSurvivesMissingForms) {
  std::vector<Value> words = special_words();
  ASSERT_GT(words.size(), 40u);
  Value five = make_fixnum(5);
  for (Value w : words) {
    std::string name = symbol_text(w);
    // (w . 5), (w () . 5), (w () () . 5): error 2 with that very form.
    for (int n = 0; n < 3; ++n) {
      Value tail = five;
      for (int i = 0; i < n; ++i) tail = cons(kNil, tail);
      Value form = cons(w, tail);
      EXPECT_EQ(error_of([&] { eval(form); }), 2) << name << " with " << n << " forms and a dotted tail";
      EXPECT_EQ(rt().last_error.culprit, form) << name;
    }
    // (w) and (w x): a value or a Lisp error, never a read past the list.
    // The one form is nil, except that an `until` needs a true test to end.
    error_of([&] { eval(cons(w, kNil)); });
    Value one = name == "until" ? rt().sym.t : kNil;
    error_of([&] { eval(cons(w, cons(one, kNil))); });
  }
}

TEST_F(FormShapes, FormsMissingTheirRequiredPartsAreError2WithTheForm) {
  for (const char* name : {"set!", "bind", "bind-keywords", "bind-optionals", "put!", "defstruct", "define",
                           "bind-struct", "quote", "if", "lambda", "gamma", "let", "fluid-let", "repeat", "case"}) {
    Value form = cons(sym(name), kNil);
    EXPECT_EQ(error_of([&] { eval(form); }), 2) << name;
    Value culprit = rt().last_error.culprit;
    ASSERT_TRUE(culprit.is_pair()) << name;
    EXPECT_EQ(car(culprit), sym(name));
    EXPECT_TRUE(cdr(culprit).is_nil()) << name;
  }
  // One form short.
  for (const char* name : {"set!", "bind", "put!", "gamma"}) {
    Value form = cons(sym(name), cons(sym("x"), kNil));
    EXPECT_EQ(error_of([&] { eval(form); }), 2) << name;
  }
  // Forms that mean something with nothing after the head.
  for (const char* name : {"begin", "and", "or", "cond", "comment", "quasiquote"})
    EXPECT_EQ(error_of([&] { eval(cons(sym(name), kNil)); }), -1) << name;
}

}  // namespace
}  // namespace core::testing
