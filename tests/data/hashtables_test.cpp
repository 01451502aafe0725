#include "data/hashtables.hpp"

#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class HashTables : public NativeCallTest {};

// A primitive for for-each-hash to call: collects (key . value) pairs on
// the value of the symbol `seen`.
Value collect_pair(Value key, Value value) {
  Value seen = intern_static("seen");
  set_symbol_value(seen, cons(cons(key, value), symbol_value(seen)));
  return kNil;
}
Value fail_on_b(Value key, Value) {
  if (key == find_symbol("b")) error(Err::Lisp, key);
  return kNil;
}

TEST_F(HashTables, EntriesBySymbol) {
  Value h = callv("new-hash", {});
  EXPECT_EQ(callv("hash-ref", {h, sym("k"), sym("none")}), sym("none"));
  EXPECT_EQ(callv("hash-set!", {h, sym("k"), fix(1)}), kNoValue);
  EXPECT_EQ(callv("hash-ref", {h, sym("k"), sym("none")}), fix(1));
  // nil and the no-value word are values like any other.
  callv("hash-set!", {h, sym("n"), kNil});
  EXPECT_TRUE(callv("hash-ref", {h, sym("n"), sym("none")}).is_nil());
  Value other = callv("new-hash", {});
  EXPECT_EQ(callv("hash-ref", {other, sym("k"), fix(0)}), fix(0));

  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("hash-ref", {h, str("k"), kNil}); }, &culprit), 2);
  EXPECT_EQ(culprit, "k");
  EXPECT_EQ(error_of([&] { callv("hash-set!", {h, fix(3), kNil}); }), 2);
  EXPECT_EQ(error_of([&] { callv("hash-ref", {kNil, sym("k"), kNil}); }), 2);
}

TEST_F(HashTables, ForEachVisitsEntriesInSlotOrder) {
  register_native("collect-pair", &native_entry<collect_pair>, 2, Tag::Primitive);
  register_native("fail-on-b", &native_entry<fail_on_b>, 2, Tag::Primitive);
  Value h = callv("new-hash", {});
  Value keys[] = {sym("a"), sym("b"), sym("c")};
  for (int i = 0; i < 3; ++i) callv("hash-set!", {h, keys[i], fix(i)});
  set_symbol_value(sym("seen"), kNil);
  EXPECT_EQ(callv("for-each-hash", {sym("collect-pair"), h}), kNoValue);
  Value seen = symbol_value(sym("seen"));
  int count = 0;
  uint32_t previous = UINT32_MAX;
  // The list holds the last visited first: slots descend along it.
  for (Value p = seen; p.is_pair(); p = cdr(p), ++count) {
    uint32_t slot = symbol_index(car(car(p)));
    EXPECT_LT(slot, previous);
    previous = slot;
    EXPECT_EQ(callv("hash-ref", {h, car(car(p)), kNil}), cdr(car(p)));
  }
  EXPECT_EQ(count, 3);
  EXPECT_EQ(error_of([&] { callv("for-each-hash", {sym("fail-on-b"), h}); }), 0);
}

class Sets : public NativeCallTest {};

TEST_F(Sets, DeepAndFlatMembership) {
  Value x = list({fix(1), fix(2)});
  Value set = list({list({fix(2), fix(1)})});
  EXPECT_EQ(callv("memberset", {x, set, kNil}), t());
  EXPECT_TRUE(callv("memberset", {x, set, t()}).is_nil());
  EXPECT_EQ(callv("memberset", {list({fix(1), fix(2)}), list({list({fix(1), fix(2)})}), t()}), t());
  // A list and a non-list are never the same; strings and symbols compare
  // by their texts, as equal? does.
  EXPECT_TRUE(callv("memberset", {kNil, list({fix(0)}), kNil}).is_nil());
  EXPECT_EQ(callv("memberset", {str("a"), list({sym("a")}), kNil}), t());
  // Nested sets: ((1 (2 3))) against (((3 2) 1)).
  Value deep_a = list({fix(1), list({fix(2), fix(3)})});
  Value deep_b = list({list({fix(3), fix(2)}), fix(1)});
  EXPECT_EQ(callv("equalset", {deep_a, deep_b, kNil}), t());
  EXPECT_TRUE(callv("equalset", {deep_a, deep_b, t()}).is_nil());
  EXPECT_EQ(callv("equalset", {list({fix(1), fix(2)}), list({fix(2), fix(1), fix(1)}), t()}), t());
  EXPECT_EQ(callv("equalset", {fix(3), fix(3), kNil}), t());
  EXPECT_EQ(callv("include?", {kNil, list({fix(1)}), kNil}), t());
  EXPECT_TRUE(callv("include?", {list({fix(1)}), kNil, kNil}).is_nil());
}

TEST_F(Sets, BuildingSets) {
  Value a = list({fix(1), fix(2)});
  Value b = list({fix(2), fix(3)});
  EXPECT_EQ(text(callv("union", {a, b, kNil})), "(1 2 3)");
  EXPECT_EQ(text(a), "(1 2)");
  EXPECT_EQ(text(callv("difference", {list({fix(1), fix(2), fix(3)}), list({fix(2)}), kNil})), "(3 1)");
  Value same = list({fix(5)});
  EXPECT_EQ(callv("difference", {same, kNil, kNil}), same);
  EXPECT_EQ(text(callv("intersection", {list({fix(3), fix(1), fix(2)}), list({fix(2), fix(3)}), kNil})), "(3 2)");
  Value with_dups = list({sym("a"), sym("b"), sym("a"), sym("c"), sym("b")});
  EXPECT_EQ(text(callv("makeset", {with_dups, kNil})), "(a b c)");
  EXPECT_EQ(text(with_dups), "(a b a c b)");
  Value nested = list({list({fix(1), fix(2)}), list({fix(2), fix(1)})});
  EXPECT_EQ(text(callv("makeset", {nested, kNil})), "((1 2))");
  EXPECT_EQ(text(callv("makeset", {nested, t()})), "((1 2) (2 1))");
  EXPECT_EQ(text(callv("union", {kNil, kNil, kNil})), "()");
}

}  // namespace
}  // namespace core::testing
