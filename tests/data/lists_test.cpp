#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/collector.hpp"
#include "core/eval.hpp"
#include "data/lists.hpp"
#include "data/state.hpp"
#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

// A small printer for what these tests build: fixnums, symbols, strings
// and lists.
std::string show(Value v) {
  if (v.is_fixnum()) return std::to_string(v.fixnum());
  if (v.is_symbol()) return symbol_text(v);
  if (v.is(Tag::String)) return std::string("\"") + string_text(v) + "\"";
  if (v.is_no_value()) return "#no-value";
  if (v.is_nil()) return "()";
  if (!v.is_pair()) return "#?";
  std::string out = "(";
  for (;;) {
    out += show(car(v));
    v = cdr(v);
    if (v.is_nil()) break;
    if (!v.is_pair()) {
      out += " . " + show(v);
      break;
    }
    out += " ";
  }
  return out + ")";
}

// Test functions for keys, tests and predicates: the evaluator applies
// primitives, so these are primitives.
Value prim_less(Value a, Value b) { return read_integer(a) < read_integer(b) ? rt().sym.t : kNil; }
Value prim_same(Value a, Value b) { return read_integer(a) == read_integer(b) ? rt().sym.t : kNil; }
Value prim_parity(Value a) { return intern_static(read_integer(a) & 1 ? "odd" : "even"); }
Value prim_odd(Value a) { return read_integer(a) & 1 ? rt().sym.t : kNil; }
Value prim_plus1(Value a) { return make_integer(read_integer(a) + 1); }
Value prim_negate(Value a) { return make_integer(-read_integer(a)); }
Value prim_no_value(Value) { return kNoValue; }
// Records its arguments in the global `calls`, newest first.
Value prim_record(Value a, Value b) {
  Value s = intern_static("calls");
  Value entry = b.is_nil() ? a : cons(a, b);
  set_symbol_value(s, cons(entry, symbol_value(s)));
  return make_integer(read_integer(a) * 10);
}
// Compares after collecting and filling the heap, so that a sort runs
// through many collections.
Value prim_collecting_less(Value a, Value b) {
  for (int i = 0; i < 20; ++i) make_string("noise in the heap");
  collect();
  return prim_less(a, b);
}
Value prim_throwing_less(Value a, Value b) {
  if (read_integer(a) == 13 || read_integer(b) == 13) error(Err::Lisp, a);
  return prim_less(a, b);
}
Value prim_sorting_less(Value a, Value b) {
  Value l = cons(make_fixnum(2), cons(make_fixnum(1), kNil));
  Value sorted = call_by_name(intern_static("sort"), {intern_static("test-collecting<"), l});
  if (car(sorted) != make_fixnum(1)) error(Err::Lisp, sorted);
  return prim_less(a, b);
}

class Lists : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    register_native("test<", &native_entry<prim_less>, 2, Tag::Primitive);
    register_native("test=", &native_entry<prim_same>, 2, Tag::Primitive);
    register_native("test-parity", &native_entry<prim_parity>, 1, Tag::Primitive);
    register_native("test-odd", &native_entry<prim_odd>, 1, Tag::Primitive);
    register_native("test-1+", &native_entry<prim_plus1>, 1, Tag::Primitive);
    register_native("test-negate", &native_entry<prim_negate>, 1, Tag::Primitive);
    register_native("test-no-value", &native_entry<prim_no_value>, 1, Tag::Primitive);
    register_native("test-record", &native_entry<prim_record>, 2, Tag::Primitive);
    register_native("test-collecting<", &native_entry<prim_collecting_less>, 2, Tag::Primitive);
    register_native("test-throwing<", &native_entry<prim_throwing_less>, 2, Tag::Primitive);
    register_native("test-sorting<", &native_entry<prim_sorting_less>, 2, Tag::Primitive);
    set_symbol_value(intern_static("calls"), kNil);
  }

  Value fn(const char* name) { return symbol_value(find_symbol(name)); }
  Value n(int i) { return make_fixnum(i); }
  // A list of fixnums.
  Value ints(std::initializer_list<int> xs) {
    std::vector<int> v(xs);
    Value out = kNil;
    for (size_t i = v.size(); i-- > 0;) out = cons(make_fixnum(v[i]), out);
    return out;
  }
  // A list of symbols from words separated by spaces.
  Value syms(const std::string& words) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < words.size()) {
      size_t end = words.find(' ', at);
      if (end == std::string::npos) end = words.size();
      parts.push_back(words.substr(at, end - at));
      at = end + 1;
    }
    Value out = kNil;
    for (size_t i = parts.size(); i-- > 0;) out = cons(intern_static(parts[i]), out);
    return out;
  }
  // Calls a primitive with a rest vector.
  Value rest(const char* name, std::initializer_list<Value> args) {
    std::vector<Value> v(args);
    v.push_back(kEndArgs);
    return native_function(fn(name))(v.data());
  }
  std::string s(Value v) { return show(v); }
  Value calls() { return symbol_value(intern_static("calls")); }
};

TEST_F(Lists, PredicatesAndTheTwoAccessors) {
  Value p = ints({1, 2});
  EXPECT_EQ(call("pair?", p), rt().sym.t);
  EXPECT_EQ(call("pair?", kNil), kNil);
  EXPECT_EQ(call("list?", kNil), rt().sym.t);
  EXPECT_EQ(call("list?", n(3)), kNil);
  EXPECT_EQ(call("atom?", kNil), rt().sym.t);
  EXPECT_EQ(call("atom?", p), kNil);
  EXPECT_EQ(call("car", p), n(1));
  EXPECT_EQ(s(call("cdr", p)), "(2)");
  EXPECT_EQ(call("car", kNil), kNil);
  EXPECT_EQ(call("cdr", kNil), kNil);
  EXPECT_EQ(error_of([&] { call("car", n(5)); }), 2);
  EXPECT_EQ(rt().last_error.culprit, n(5));
  EXPECT_EQ(error_of([&] { call("cdr", make_string("x")); }), 2);
}

TEST_F(Lists, EveryCompositionOfCarAndCdrFollowsItsLettersFromTheRight) {
  // A full tree four levels deep whose leaves name their path.
  std::function<Value(std::string)> tree = [&](std::string path) -> Value {
    if (path.size() == 4) return intern_copy(path);
    return cons(tree(path + "a"), tree(path + "d"));
  };
  Value t = tree("");
  int names = 0;
  for (int len = 2; len <= 4; ++len) {
    for (int bits = 0; bits < (1 << len); ++bits) {
      std::string letters;
      for (int i = len - 1; i >= 0; --i) letters += (bits >> i) & 1 ? 'd' : 'a';
      std::string name = "c" + letters + "r";
      // Expected: apply the letters from the right end.
      Value expect = t;
      for (int i = len - 1; i >= 0; --i) expect = letters[i] == 'a' ? car(expect) : cdr(expect);
      EXPECT_EQ(call(name.c_str(), t), expect) << name;
      ++names;
    }
  }
  EXPECT_EQ(names, 28);
  EXPECT_EQ(call("cadr", ints({1, 2, 3})), n(2));
  EXPECT_EQ(call("cddr", ints({1})), kNil);
  EXPECT_EQ(error_of([&] { call("cadr", cons(n(1), n(2))); }), 2);
  EXPECT_EQ(rt().last_error.culprit, n(2));
}

TEST_F(Lists, OrdinalAccessorsAndTheirSetters) {
  Value l = ints({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  const char* names[] = {"first", "second", "third", "fourth", "fifth",
                         "sixth", "seventh", "eighth", "ninth", "tenth"};
  const char* setters[] = {"set-first!", "set-second!", "set-third!", "set-fourth!", "set-fifth!",
                           "set-sixth!", "set-seventh!", "set-eighth!", "set-ninth!", "set-tenth!"};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(call(names[i], l), n(i)) << names[i];
    EXPECT_EQ(call(setters[i], l, n(100 + i)), n(100 + i));
    EXPECT_EQ(call(names[i], l), n(100 + i));
  }
  EXPECT_EQ(call("fourth", ints({1, 2})), kNil);
  EXPECT_EQ(error_of([&] { call("third", cons(n(1), n(2))); }), 2);
  EXPECT_EQ(error_of([&] { call("set-third!", ints({1, 2}), n(0)); }), 2);
  EXPECT_EQ(error_of([&] { call("set-car!", kNil, n(0)); }), 2);
  Value p = ints({1, 2});
  EXPECT_EQ(call("set-cdr!", p, n(9)), n(9));
  EXPECT_EQ(s(p), "(1 . 9)");
}

TEST_F(Lists, ConstructorsShareAndCopyAsDocumented) {
  EXPECT_EQ(s(rest("list", {n(1), n(2), n(3)})), "(1 2 3)");
  EXPECT_EQ(rest("list", {}), kNil);
  EXPECT_EQ(s(rest("cons-list", {n(1), n(2), ints({3})})), "(1 2 3)");
  EXPECT_EQ(s(rest("cons-list", {n(1), n(2)})), "(1 . 2)");
  EXPECT_EQ(rest("cons-list", {}), kNil);
  EXPECT_EQ(rest("cons-list", {n(4)}), n(4));

  Value one = ints({1}), two = ints({2});
  Value a = rest("append", {one, kNil, two, kNil});
  EXPECT_EQ(s(a), "(1 2)");
  EXPECT_EQ(cdr(a), two);   // the last non-nil argument is shared
  EXPECT_NE(a, one);        // earlier ones are copied
  EXPECT_EQ(s(one), "(1)");
  EXPECT_EQ(rest("append", {}), kNil);
  EXPECT_EQ(rest("append", {kNil, kNil}), kNil);
  EXPECT_EQ(s(rest("append", {ints({1}), n(2)})), "(1 . 2)");
  EXPECT_EQ(error_of([&] { rest("append", {cons(n(1), n(2)), ints({3})}); }), 2);

  Value x = ints({1, 2}), y = ints({3});
  Value j = rest("append!", {kNil, x, kNil, y, ints({4, 5})});
  EXPECT_EQ(j, x);
  EXPECT_EQ(s(x), "(1 2 3 4 5)");
  EXPECT_EQ(rest("append!", {kNil}), kNil);

  Value l = syms("a b");
  EXPECT_EQ(call("add", intern_static("a"), l), l);
  EXPECT_EQ(s(call("add", intern_static("c"), l)), "(c a b)");
}

TEST_F(Lists, LengthsEndsAndTails) {
  Value l = syms("a b c");
  EXPECT_EQ(call("length", l), n(3));
  EXPECT_EQ(call("length", kNil), n(0));
  EXPECT_EQ(call("last", l), intern_static("c"));
  EXPECT_EQ(call("last", kNil), kNil);
  EXPECT_EQ(s(call("last-pair", l)), "(c)");
  EXPECT_EQ(s(call("last-pair", cons(n(1), cons(n(2), n(3))))), "(2 . 3)");
  EXPECT_EQ(s(call("list-tail", l, n(1))), "(b c)");
  EXPECT_EQ(call("list-tail", l, n(3)), kNil);
  EXPECT_EQ(call("list-tail", l, n(7)), kNil);
  // A negative count is a huge unsigned one.
  EXPECT_EQ(call("list-tail", l, n(-1)), kNil);
  EXPECT_EQ(call("list-ref", l, n(2)), intern_static("c"));
  EXPECT_EQ(call("list-ref", l, n(5)), kNil);
  EXPECT_EQ(call("reversed-ref", l, n(0)), intern_static("c"));
  EXPECT_EQ(call("reversed-ref", l, n(2)), intern_static("a"));
  EXPECT_EQ(call("reversed-ref", l, n(3)), kNil);
  EXPECT_EQ(call("reversed-ref", l, n(-1)), kNil);
  EXPECT_EQ(s(call("butlast", l)), "(a b)");
  EXPECT_EQ(call("butlast", syms("a")), kNil);
  EXPECT_EQ(error_of([&] { call("length", n(3)); }), 2);
  EXPECT_EQ(error_of([&] { call("length", cons(n(1), n(2))); }), 2);
  EXPECT_EQ(error_of([&] { call("list-ref", cons(n(1), n(2)), n(3)); }), 2);
}

TEST_F(Lists, ReversingAndCopying) {
  Value l = ints({1, 2, 3});
  Value r = call("reverse", l);
  EXPECT_EQ(s(r), "(3 2 1)");
  EXPECT_EQ(s(l), "(1 2 3)");
  Value single = ints({7});
  EXPECT_EQ(call("reverse", single), single);
  EXPECT_EQ(call("reverse", kNil), kNil);
  Value third = cdr(cdr(l));
  EXPECT_EQ(call("reverse!", l), third);
  EXPECT_EQ(s(third), "(3 2 1)");
  // A dotted list is refused before anything changes.
  Value dotted = cons(n(1), cons(n(2), n(3)));
  EXPECT_EQ(error_of([&] { call("reverse!", dotted); }), 2);
  EXPECT_EQ(s(dotted), "(1 2 . 3)");

  Value inner = ints({2, 3});
  Value tree = cons(n(1), cons(inner, n(4)));
  Value c = call("copy-list", tree);
  EXPECT_EQ(s(c), "(1 (2 3) . 4)");
  EXPECT_NE(c, tree);
  EXPECT_EQ(car(cdr(c)), inner);
  Value t = call("copy-tree", tree);
  EXPECT_EQ(s(t), "(1 (2 3) . 4)");
  EXPECT_NE(car(cdr(t)), inner);
  EXPECT_EQ(call("copy-tree", n(5)), n(5));

  Value seq = syms("a b c d e");
  EXPECT_EQ(s(call("subseq", seq, n(1), n(3))), "(b c)");
  EXPECT_EQ(s(call("subseq", seq, n(3), kNil)), "(d e)");
  EXPECT_EQ(call("subseq", seq, n(3), n(2)), kNil);
  EXPECT_EQ(s(call("subseq", seq, n(4), n(100))), "(e)");
  // 65,537 taken as a signed 16-bit number is 1.
  EXPECT_EQ(s(call("subseq", seq, make_fixnum(65537), n(2))), "(b)");
}

TEST_F(Lists, CircularListsAreAnErrorNotAHang) {
  Value ring = ints({1, 2, 3});
  set_cdr(cdr(cdr(ring)), ring);
  Value lasso = cons(n(0), ring);
  for (Value l : {ring, lasso}) {
    for (const char* name : {"length", "last", "reverse", "butlast", "copy-list", "copy-tree"})
      EXPECT_EQ(error_of([&] { call(name, l); }), 2) << name;
    EXPECT_EQ(error_of([&] { call("memq", n(9), l); }), 2);
    EXPECT_EQ(error_of([&] { call("member", n(9), l, kNil, fn("test=")); }), 2);
    EXPECT_EQ(error_of([&] { call("assq", n(9), l); }), 2);
    EXPECT_EQ(error_of([&] { call("getprop", n(9), l); }), 2);
    EXPECT_EQ(error_of([&] { call("sort", fn("test<"), l); }), 2);
    EXPECT_EQ(error_of([&] { call("reverse!", l); }), 2);
    EXPECT_EQ(error_of([&] { call("count-if", fn("test-odd"), l); }), 2);
    EXPECT_EQ(error_of([&] { rest("append", {l, ints({1})}); }), 2);
    EXPECT_EQ(error_of([&] { call("list-tail", l, n(-1)); }), 2);
  }
  EXPECT_EQ(rt().last_error.culprit, lasso);
  // The list is intact after the refusals.
  EXPECT_EQ(cdr(cdr(cdr(ring))), ring);
  // Finding something in a circular list before the cycle closes is fine.
  EXPECT_EQ(call("memq", n(2), ring), cdr(ring));
}

TEST_F(Lists, SearchesWithKeyAndTest) {
  Value l = ints({1, 2, 3, 4});
  EXPECT_EQ(s(call("memq", n(3), l)), "(3 4)");
  EXPECT_EQ(call("memq", n(9), l), kNil);
  Value reals = cons(make_real(1.5), cons(make_real(2.5), kNil));
  EXPECT_EQ(call("memq", make_real(2.5), reals), kNil);
  EXPECT_EQ(call("memv", make_real(2.5), reals), cdr(reals));
  // member compares with equal?, after the key, or with the test.
  Value nested = cons(ints({1}), cons(ints({2}), kNil));
  EXPECT_EQ(call("member", ints({2}), nested), cdr(nested));
  EXPECT_EQ(s(call("member", n(-3), l, fn("test-negate"))), "(3 4)");
  EXPECT_EQ(s(call("member", n(2), l, kNil, fn("test<"))), "(3 4)");
  EXPECT_EQ(call("find", n(-2), l, fn("test-negate")), n(2));
  EXPECT_EQ(call("find", n(5), l), kNil);
  EXPECT_EQ(call("find-if", fn("test-odd"), ints({2, 4, 5, 7})), n(5));
  EXPECT_EQ(call("find-if", fn("test-odd"), l, fn("test-1+")), n(2));
  EXPECT_EQ(s(call("collect-if", fn("test-odd"), l)), "(1 3)");
  EXPECT_EQ(call("count-if", fn("test-odd"), l, fn("test-1+")), n(2));
  EXPECT_EQ(call("some", fn("test-1+"), l), n(2));
  EXPECT_EQ(call("some", fn("test-odd"), kNil), kNil);
  EXPECT_EQ(call("every", fn("test-odd"), kNil), rt().sym.t);
  EXPECT_EQ(call("every", fn("test-odd"), ints({1, 3})), rt().sym.t);
  EXPECT_EQ(call("every", fn("test-odd"), ints({1, 2})), kNil);
  // No-value is not a true result.
  EXPECT_EQ(call("some", fn("test-no-value"), l), kNil);
  EXPECT_EQ(call("every", fn("test-no-value"), l), kNil);
  // A symbol stands for its function.
  EXPECT_EQ(call("find-if", intern_static("test-odd"), l), n(1));
}

TEST_F(Lists, AssociationLists) {
  Value a = intern_static("a"), b = intern_static("b");
  Value alist = cons(cons(a, n(1)), cons(n(7), cons(cons(b, n(2)), kNil)));
  EXPECT_EQ(s(call("assq", b, alist)), "(b . 2)");
  EXPECT_EQ(call("assq", intern_static("z"), alist), kNil);
  Value real_keys = cons(cons(make_real(0.5), n(1)), kNil);
  EXPECT_EQ(call("assq", make_real(0.5), real_keys), kNil);
  EXPECT_EQ(call("assv", make_real(0.5), real_keys), car(real_keys));
  Value nested = cons(cons(ints({1, 2}), n(3)), kNil);
  EXPECT_EQ(call("assoc", ints({1, 2}), nested), car(nested));
  Value numbered = cons(cons(n(1), a), cons(cons(n(2), b), kNil));
  EXPECT_EQ(s(call("assoc", n(-2), numbered, fn("test-negate"))), "(2 . b)");
  EXPECT_EQ(s(call("assoc", n(1), numbered, kNil, fn("test<"))), "(2 . b)");
  Value same = call("associate", a, n(10), alist);
  EXPECT_EQ(same, alist);
  EXPECT_EQ(s(call("assq", a, alist)), "(a . 10)");
  Value grown = call("associate", intern_static("c"), n(3), alist);
  EXPECT_EQ(cdr(grown), alist);
  EXPECT_EQ(s(car(grown)), "(c . 3)");
}

TEST_F(Lists, PropertyLists) {
  Value pl = cons(intern_static("a"), cons(n(1), cons(intern_static("b"), cons(n(2), kNil))));
  EXPECT_EQ(s(call("getprop", intern_static("b"), pl)), "(b 2)");
  EXPECT_EQ(call("getprop", n(1), pl), kNil);  // values are not keys
  EXPECT_EQ(call("getf", intern_static("a"), pl, n(0)), n(1));
  EXPECT_EQ(call("getf", intern_static("c"), syms("a"), n(0)), n(0));
  rest("for-each-property", {fn("test-record"), cons(n(1), cons(n(2), cons(n(3), cons(n(4), kNil))))});
  EXPECT_EQ(s(calls()), "((3 . 4) (1 . 2))");
  EXPECT_EQ(call("for-each-property", fn("test-record"), kNil), kNoValue);
  Value after = call("remprop!", intern_static("a"), pl);
  EXPECT_EQ(s(after), "(b 2)");
  Value pl2 = cons(intern_static("a"), cons(n(1), cons(intern_static("b"), cons(n(2), kNil))));
  EXPECT_EQ(call("remprop!", intern_static("b"), pl2), pl2);
  EXPECT_EQ(s(pl2), "(a 1)");
  EXPECT_EQ(call("remprop!", intern_static("z"), pl2), pl2);
}

TEST_F(Lists, RemovingAndReplacing) {
  Value l = ints({1, 2, 3, 2});
  Value r = call("remove", n(2), l);
  EXPECT_EQ(s(r), "(1 3 2)");
  EXPECT_EQ(cdr(r), cdr(cdr(l)));  // the rest after the match is shared
  EXPECT_EQ(call("remove", n(1), l), cdr(l));
  EXPECT_EQ(call("remove", n(9), l), l);
  EXPECT_EQ(s(call("remove", n(-3), l, fn("test-negate"))), "(1 2 2)");
  EXPECT_EQ(call("remove!", n(2), l), l);
  EXPECT_EQ(s(l), "(1 3 2)");
  Value tail = cdr(l);
  EXPECT_EQ(call("remove!", n(1), l), tail);
  Value m = ints({1, 2, 3});
  EXPECT_EQ(call("remove-tail!", cdr(m), m), m);
  EXPECT_EQ(s(m), "(1 3)");
  EXPECT_EQ(call("remove-tail!", m, m), cdr(m));
  EXPECT_EQ(call("remove-tail!", ints({3}), m), m);
  Value q = cons(ints({1}), ints({2, 3}));
  EXPECT_EQ(call("replace!", ints({1}), n(0), q), q);
  EXPECT_EQ(s(q), "(0 2 3)");
}

TEST_F(Lists, ChangingTheRankOfAnElement) {
  EXPECT_EQ(s(call("change-rank!", syms("a b c d"), n(0), n(3))), "(b c a d)");
  EXPECT_EQ(s(call("change-rank!", syms("a b c d"), n(0), kNil)), "(b c d a)");
  EXPECT_EQ(s(call("change-rank!", syms("a b c d"), n(3), n(1))), "(a d b c)");
  EXPECT_EQ(s(call("change-rank!", syms("a b c d"), n(2), n(0))), "(c a b d)");
  Value l = syms("a b c d");
  EXPECT_EQ(call("change-rank!", l, n(1), n(1)), l);
  EXPECT_EQ(call("change-rank!", l, n(1), n(2)), l);
  EXPECT_EQ(s(call("change-rank!", l, n(1), n(99))), "(a c d b)");
  EXPECT_EQ(s(call("change-rank!", syms("a b"), n(7), n(0))), "(a b)");
}

TEST_F(Lists, PartitionAndTranspose) {
  Value groups = syms("odd even");
  EXPECT_EQ(s(call("partition", ints({1, 2, 3, 4}), groups, fn("test-parity"))), "((odd 1 3) (even 2 4))");
  EXPECT_EQ(s(call("partition", ints({1, 3}), syms("even odd"), fn("test-parity"))), "((even) (odd 1 3))");
  EXPECT_EQ(s(call("partition", ints({1, 2, 2}), ints({2, 5}))), "((2 2 2) (5))");

  Value rows = cons(ints({1, 2, 3}), cons(syms("a b c"), kNil));
  EXPECT_EQ(s(call("transpose", rows)), "((1 a) (2 b) (3 c))");
  EXPECT_EQ(s(rows), "((1 2 3) (a b c))");
  EXPECT_EQ(s(call("transpose", cons(ints({1, 2}), cons(ints({3}), kNil)))), "((1 3) (2 ()))");
  EXPECT_EQ(call("transpose", kNil), kNil);
  Value first_pair = car(rows);
  Value t = call("transpose!", rows);
  EXPECT_EQ(s(t), "((1 a) (2 b) (3 c))");
  EXPECT_EQ(car(t), first_pair);  // the rows' own pairs make the columns
  EXPECT_EQ(error_of([&] { call("transpose", cons(n(1), kNil)); }), 2);
}

TEST_F(Lists, SortingWithKeyAndDuplicates) {
  EXPECT_EQ(s(call("sort", fn("test<"), ints({3, 1, 2}))), "(1 2 3)");
  EXPECT_EQ(s(call("sort", fn("test<"), ints({1, 1, 2}), kNil, fn("test="))), "(1 2)");
  EXPECT_EQ(s(call("sort", fn("test<"), ints({2, 1, 2, 3, 1, 1}), kNil, fn("test="))), "(1 2 3)");
  EXPECT_EQ(s(call("sort", fn("test<"), ints({3, 1, 2}), fn("test-negate"))), "(3 2 1)");
  EXPECT_EQ(call("sort", fn("test<"), kNil), kNil);
  EXPECT_EQ(s(call("sort", fn("test<"), ints({5}))), "(5)");
  // The key is applied to every element, in list order, before comparing.
  call("sort", fn("test<"), ints({3, 1, 2}), fn("test-record"));
  EXPECT_EQ(s(calls()), "(2 1 3)");
  Value l = ints({3, 1, 2});
  call("sort", fn("test<"), l);
  EXPECT_EQ(s(l), "(3 1 2)");  // a new list; the argument is untouched

  std::mt19937 gen(7);
  std::vector<int> xs(2000);
  for (int& x : xs) x = int(gen() % 500);
  Value big = kNil;
  for (int x : xs) big = cons(make_fixnum(x), big);
  std::vector<int> expect(xs.rbegin(), xs.rend());
  std::sort(expect.begin(), expect.end());
  Value sorted = call("sort", fn("test<"), big);
  for (int x : expect) {
    ASSERT_TRUE(sorted.is_pair());
    ASSERT_EQ(car(sorted), make_fixnum(x));
    sorted = cdr(sorted);
  }
  EXPECT_TRUE(sorted.is_nil());
  // Already sorted and reversed inputs.
  Value up = kNil;
  for (int i = 1000; i > 0; --i) up = cons(make_fixnum(i), up);
  EXPECT_EQ(car(call("last-pair", call("sort", fn("test<"), up))), make_fixnum(1000));
  EXPECT_EQ(car(call("sort", fn("test<"), call("reverse", up))), make_fixnum(1));
}

TEST_F(Lists, ASortSurvivesCollectionsAndFreesItsWorkOnEveryExit) {
  // Keys made by the key function live only in the work array.
  Value l = kNil;
  for (int i = 0; i < 60; ++i) l = cons(make_fixnum((i * 37) % 60), l);
  Value sorted = call("sort", fn("test-collecting<"), l, fn("test-1+"));
  int expect = 0;
  for (; sorted.is_pair(); sorted = cdr(sorted)) EXPECT_EQ(car(sorted), make_fixnum(expect++));
  EXPECT_EQ(expect, 60);
  EXPECT_EQ(data::data_state().sort_work, nullptr);

  Value thirteen = ints({20, 13, 5, 8});
  EXPECT_EQ(error_of([&] { call("sort", fn("test-throwing<"), thirteen); }), 0);
  EXPECT_EQ(data::data_state().sort_work, nullptr);
  EXPECT_EQ(data::data_state().sort_work_words, 0u);
  collect();
  EXPECT_EQ(s(thirteen), "(20 13 5 8)");

  // A predicate may sort again: the outer sort's entries stay roots, and
  // each sort gives the array back on its way out.
  Value outer = kNil;
  for (int i = 0; i < 30; ++i) outer = cons(make_fixnum((i * 7) % 30), outer);
  Value nested = call("sort", fn("test-sorting<"), outer, fn("test-1+"));
  EXPECT_EQ(call("length", nested), n(30));
  EXPECT_EQ(car(nested), n(0));
  EXPECT_EQ(call("last", nested), n(29));
  EXPECT_EQ(data::data_state().sort_work, nullptr);
  EXPECT_TRUE(data::data_state().sort_outer.empty());
}

TEST_F(Lists, CountedLoops) {
  EXPECT_EQ(call("for", n(1), n(3), fn("test-record")), kNoValue);
  EXPECT_EQ(s(calls()), "(3 2 1)");
  set_symbol_value(intern_static("calls"), kNil);
  EXPECT_EQ(s(call("for-collect", n(3), n(1), fn("test-record"), rt().sym.t)), "(30 20 10)");
  EXPECT_EQ(s(calls()), "(1 2 3)");
  EXPECT_EQ(call("for-collect", n(3), n(1), fn("test-record")), kNil);
  EXPECT_EQ(s(call("for-collect", n(-1), n(1), fn("test-1+"))), "(0 1 2)");
  EXPECT_EQ(error_of([&] { call("for", make_string("1"), n(3), fn("test-1+")); }), 2);
  EXPECT_EQ(error_of([&] { call("for-collect", n(1), kNil, fn("test-1+")); }), 2);
}

TEST_F(Lists, BuildingLongListsUnderCollectionKeepsEveryPair) {
  // Every primitive that builds holds its partial result across the
  // allocations that collect (at each one in the collect-always build).
  Value l = kNil;
  int count = 2000;
  for (int i = count; i > 0; --i) l = cons(make_fixnum(i), l);
  Value copy = call("copy-list", l);
  Value rev = call("reverse", l);
  Value app = rest("append", {l, l, ints({0})});
  Value odd = call("collect-if", fn("test-odd"), l);
  Value part = call("partition", l, syms("odd even"), fn("test-parity"));
  for (int i = 0; i < 200; ++i) make_string("garbage");
  collect();
  EXPECT_EQ(call("length", copy), n(count));
  EXPECT_EQ(car(rev), n(count));
  EXPECT_EQ(call("length", app), n(2 * count + 1));
  EXPECT_EQ(call("length", odd), n(count / 2));
  EXPECT_EQ(call("length", car(part)), n(count / 2 + 1));
  EXPECT_EQ(call("last", app), n(0));
}

}  // namespace
}  // namespace core::testing
