// The typed argument getters: error 2 naming the argument itself.
#include "core/args.hpp"

#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

class ArgsTest : public MachineTest {
 protected:
  // The error number and whether the culprit is the argument.
  template <typename F>
  void expect_refused(Value v, F f) {
    EXPECT_EQ(error_of([&] { f(v); }), 2);
    EXPECT_EQ(rt().last_error.culprit, v);
  }
};

TEST_F(ArgsTest, GettersAnswerTheNativeFormOrNameTheCulprit) {
  Value big = make_integer(20000000);  // a long
  EXPECT_EQ(arg_int(big), 20000000);
  EXPECT_EQ(arg_count(make_fixnum(0)), 0u);
  EXPECT_EQ(arg_index(make_fixnum(4), 5), 4u);
  EXPECT_EQ(arg_int_in(make_fixnum(-3), -3, 3), -3);
  EXPECT_EQ(arg_number(make_fixnum(2)), 2.0);
  EXPECT_EQ(arg_text(make_string("abc")), "abc");
  expect_refused(big, [](Value v) { arg_fixnum(v); });
  expect_refused(make_fixnum(-1), [](Value v) { arg_count(v); });
  expect_refused(make_string("1"), [](Value v) { arg_count(v); });
  expect_refused(make_fixnum(5), [](Value v) { arg_index(v, 5); });
  expect_refused(make_fixnum(4), [](Value v) { arg_int_in(v, -3, 3); });
  expect_refused(kNil, [](Value v) { arg_pair(v); });
  expect_refused(kNil, [](Value v) { arg_symbol(v); });
  expect_refused(intern_static("x"), [](Value v) { arg_string(v); });
  expect_refused(make_fixnum(1), [](Value v) { arg_vector(v); });
}

}  // namespace
}  // namespace core::testing
