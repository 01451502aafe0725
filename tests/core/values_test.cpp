#include "core/predicates.hpp"
#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

class Values : public MachineTest {};

TEST_F(Values, FixnumBoundaryBoxesIntoLongs) {
  EXPECT_TRUE(make_integer(8388606).is_fixnum());
  EXPECT_TRUE(make_integer(-8388607).is_fixnum());
  EXPECT_TRUE(make_integer(8388607).is(Tag::Long));
  EXPECT_TRUE(make_integer(-8388608).is(Tag::Long));
  for (int32_t n : {0, 1, -1, 8388606, -8388607, 8388607, -8388608, INT32_MAX, INT32_MIN})
    EXPECT_EQ(read_integer(make_integer(n)), n) << n;
  // Sign extension from bit 23.
  EXPECT_EQ(make_fixnum(-1).payload(), 0xFFFFFFu);
  EXPECT_EQ(make_fixnum(-1).fixnum(), -1);
  EXPECT_EQ(make_fixnum(-8388607).bits, 0x02800001u);
}

TEST_F(Values, ReadingNumbersChecksTheTag) {
  EXPECT_EQ(error_of([&] { read_integer(make_real(1.5)); }), 2);
  EXPECT_EQ(rt().last_error.culprit.tag(), Tag::Real);
  EXPECT_EQ(error_of([&] { read_integer(kNil); }), 2);
  EXPECT_DOUBLE_EQ(read_double(make_integer(-9000000)), -9000000.0);
  EXPECT_DOUBLE_EQ(read_double(make_real(2.25)), 2.25);
  EXPECT_EQ(error_of([&] { read_double(make_string("1")); }), 2);
}

TEST_F(Values, EqualityFollowsTheNumericRules) {
  Value one = make_fixnum(1), one_r = make_real(1.0);
  EXPECT_TRUE(equal(one, one_r));
  EXPECT_TRUE(equal(one_r, one));
  EXPECT_FALSE(eqv(one, one_r));
  EXPECT_TRUE(eqv(make_real(2.5), make_real(2.5)));
  EXPECT_TRUE(eqv(make_integer(10000000), make_integer(10000000)));
  EXPECT_FALSE(eqv(make_integer(10000000), make_integer(10000001)));
  EXPECT_NE(make_real(2.5), make_real(2.5));
  // A long equal in value to a fixnum is not equal? to it; longs compare by value.
  Value big = make_integer(9000000);
  EXPECT_TRUE(equal(big, make_integer(9000000)));
  Value boxed_small = alloc_node(Tag::Long, make_header(Header::Long, 0), 5);
  EXPECT_FALSE(equal(boxed_small, make_fixnum(5)));
  EXPECT_FALSE(equal(make_fixnum(5), boxed_small));
  EXPECT_FALSE(equal(big, make_real(9000000.0)));
}

TEST_F(Values, EqualityOfTextsListsAndVectors) {
  Value abc = sym("abc");
  EXPECT_TRUE(equal(make_string("abc"), abc));
  EXPECT_TRUE(equal(abc, make_string("abc")));
  EXPECT_FALSE(equal(abc, sym("abd")));
  EXPECT_TRUE(equal(make_string("x"), make_string("x")));
  EXPECT_FALSE(equal(make_string("x"), make_string("xy")));

  Value a = cons(make_fixnum(1), cons(make_string("s"), kNil));
  Value b = cons(make_fixnum(1), cons(make_string("s"), kNil));
  EXPECT_TRUE(equal(a, b));
  EXPECT_FALSE(equal(a, cons(make_fixnum(1), kNil)));
  EXPECT_FALSE(equal(kNil, a));
  // Improper tails compare by the general rule.
  EXPECT_TRUE(equal(cons(make_fixnum(1), make_fixnum(2)), cons(make_fixnum(1), make_fixnum(2))));

  // A very long list compares without deep native recursion.
  Value x = kNil, y = kNil;
  for (int i = 0; i < 8000; ++i) {
    x = cons(make_fixnum(i), x);
    y = cons(make_fixnum(i), y);
  }
  EXPECT_TRUE(equal(x, y));
}

TEST_F(Values, DeepCarNestingIsAnErrorNotACrash) {
  Value x = kNil;
  for (int i = 0; i < 9000; ++i) x = cons(x, kNil);
  Value y = kNil;
  for (int i = 0; i < 9000; ++i) y = cons(y, kNil);
  // Either it compares or it reports error 61; it never overflows the native stack.
  int e = error_of([&] { equal(x, y); });
  EXPECT_TRUE(e == -1 || e == 61) << e;
}

TEST_F(Values, TypeNames) {
  const WellKnown& s = rt().sym;
  EXPECT_EQ(type_of(kNil), s.list);
  EXPECT_EQ(type_of(cons(kNil, kNil)), s.list);
  EXPECT_EQ(type_of(sym("if")), s.symbol);
  EXPECT_EQ(type_of(make_fixnum(3)), s.integer);
  EXPECT_EQ(type_of(make_integer(1 << 30)), s.long_);
  EXPECT_EQ(type_of(make_real(1)), s.real);
  EXPECT_EQ(type_of(make_string("")), s.string);
  EXPECT_EQ(type_of(kNoValue), s.no_value);
  EXPECT_EQ(type_of(kNoObject), kNoObject);
  EXPECT_EQ(type_of(Value::make(Tag(0x20), 8)), s.keyword);
  EXPECT_EQ(type_of(symbol_value(find_symbol("eq?"))), s.primitive);
  EXPECT_EQ(error_of([&] { type_of(kEndArgs); }), 2);
  EXPECT_EQ(error_of([&] { type_of(Value::make(Tag::Array, 8)); }), 2);
  EXPECT_TRUE(type_p(make_fixnum(1), s.integer));
  EXPECT_TRUE(type_p(make_fixnum(1), s.t));
  EXPECT_FALSE(type_p(make_fixnum(1), s.object));
  EXPECT_FALSE(type_p(make_fixnum(1), s.real));
}

TEST_F(Values, PredicatePrimitives) {
  Value t = rt().sym.t;
  EXPECT_EQ(call("not", kNil), t);
  EXPECT_EQ(call("null?", kNil), t);
  EXPECT_EQ(call("null?", make_fixnum(0)), kNil);
  EXPECT_EQ(call("boolean?", t), t);
  EXPECT_EQ(call("boolean?", kNil), t);
  EXPECT_EQ(call("boolean?", make_fixnum(0)), kNil);
  EXPECT_EQ(call("true"), t);
  EXPECT_EQ(call("false"), kNil);
  EXPECT_EQ(call("neq?", make_fixnum(1), make_fixnum(1)), kNil);
  EXPECT_EQ(call("procedure?", symbol_value(find_symbol("eq?"))), t);
  EXPECT_EQ(call("function?", symbol_value(find_symbol("eq?"))), kNil);
  EXPECT_EQ(call("symbol?", make_keyword("k")), t);
  EXPECT_EQ(call("symbol?", make_string("k")), kNil);
}

}  // namespace
}  // namespace core::testing
