#include "data/vectors.hpp"

#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class Vectors : public NativeCallTest {
 protected:
  std::string elements(Value v) { return text(callv("vector->list", {v})); }
};

TEST_F(Vectors, MakingAndIndexing) {
  Value v = callv("make-vector", {fix(3), sym("a")});
  EXPECT_EQ(elements(v), "(a a a)");
  EXPECT_EQ(callv("vector-length", {v}), fix(3));
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("vector-ref", {v, fix(3)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "3");
  EXPECT_EQ(error_in([&] { callv("vector-set!", {v, fix(-1), kNil}); }, &culprit), 2);
  EXPECT_EQ(culprit, "-1");
  EXPECT_EQ(callv("vector-set!", {v, fix(2), fix(7)}), fix(7));
  EXPECT_EQ(callv("vector-ref", {v, fix(2)}), fix(7));
  EXPECT_EQ(callv("vector?", {v}), t());
  EXPECT_TRUE(callv("vector?", {kNil}).is_nil());
  EXPECT_EQ(error_of([&] { callv("vector-length", {kNil}); }), 2);
  EXPECT_EQ(error_of([&] { callv("vector-ref", {str("abc"), fix(0)}); }), 2);
}

TEST_F(Vectors, SizesStayWithinA16BitBlock) {
  EXPECT_EQ(callv("vector-length", {callv("make-vector", {fix(16383), kNil})}), fix(16383));
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("make-vector", {fix(16384), kNil}); }, &culprit), 2);
  EXPECT_EQ(culprit, "16384");
  // A count that a 16-bit reading would wrap to a small one is refused too.
  EXPECT_EQ(error_of([&] { callv("make-vector", {fix(65539), kNil}); }), 2);
  EXPECT_EQ(error_of([&] { callv("make-vector", {fix(-1), kNil}); }), 2);
  EXPECT_EQ(callv("vector-length", {callv("make-vector", {fix(0), kNil})}), fix(0));
}

TEST_F(Vectors, Conversions) {
  Value v = callv("vector", {fix(1), sym("b"), str("c")});
  EXPECT_EQ(elements(v), "(1 b c)");
  EXPECT_EQ(elements(callv("vector", {})), "()");
  Value l = list({fix(1), fix(2), fix(3)});
  Value w = callv("list->vector", {l});
  EXPECT_EQ(elements(w), "(1 2 3)");
  // An improper tail is ignored.
  EXPECT_EQ(elements(callv("list->vector", {cons(fix(1), fix(2))})), "(1)");
  Value copy = callv("copy-vector", {w});
  callv("vector-set!", {copy, fix(0), sym("x")});
  EXPECT_EQ(elements(copy), "(x 2 3)");
  EXPECT_EQ(elements(w), "(1 2 3)");
  Value inner = list({fix(9)});
  Value shallow = callv("copy-vector", {callv("vector", {inner})});
  EXPECT_EQ(callv("vector-ref", {shallow, fix(0)}), inner);
}

TEST_F(Vectors, ArraysStoreTheFirstIndexFastest) {
  Value a = callv("make-array", {fix(2), fix(3)});
  EXPECT_EQ(callv("array?", {a}), t());
  EXPECT_EQ(callv("array-ref", {a, fix(1), fix(2)}), fix(0));
  EXPECT_EQ(callv("array-set!", {a, sym("x"), fix(1), fix(2)}), sym("x"));
  callv("array-set!", {a, sym("y"), fix(1), fix(0)});
  callv("array-set!", {a, sym("z"), fix(0), fix(1)});
  EXPECT_EQ(callv("array-ref", {a, fix(1), fix(2)}), sym("x"));
  // Storage positions: (1 0) is 1, (0 1) is 2, (1 2) is 5, the last.
  Value b = callv("make-array", {fix(6)});
  callv("copy-array", {a, b});
  EXPECT_EQ(callv("array-ref", {b, fix(1)}), sym("y"));
  EXPECT_EQ(callv("array-ref", {b, fix(2)}), sym("z"));
  EXPECT_EQ(callv("array-ref", {b, fix(5)}), sym("x"));

  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("array-ref", {a, fix(1)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "()");
  EXPECT_EQ(error_in([&] { callv("array-ref", {a, fix(1), fix(2), fix(7)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "7");
  EXPECT_EQ(error_in([&] { callv("array-ref", {a, fix(2), fix(0)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "2");
  EXPECT_EQ(error_in([&] { callv("array-ref", {a, fix(0), fix(3)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "3");
  EXPECT_EQ(error_in([&] { callv("array-ref", {a}); }, &culprit), 2);
  EXPECT_EQ(culprit, "()");
  EXPECT_EQ(error_in([&] { callv("array-ref", {}); }, &culprit), 2);
  EXPECT_EQ(error_in([&] { callv("array-ref", {kNil, fix(0)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "()");
  EXPECT_EQ(error_in([&] { callv("array-set!", {a, fix(1), fix(-1), fix(0)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "-1");
}

TEST_F(Vectors, ArrayBlockSizes) {
  std::string culprit;
  // 4 + 2 * 2 + 4 * 20000 bytes.
  EXPECT_EQ(error_in([&] { callv("make-array", {fix(200), fix(100)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "80008");
  EXPECT_EQ(error_in([&] { callv("make-array", {fix(65536)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "65536");
  EXPECT_EQ(error_of([&] { callv("make-array", {fix(-1)}); }), 2);
  // Products past 32 bits are not wrapped either.
  EXPECT_EQ(error_of([&] { callv("make-array", {fix(65535), fix(65535), fix(65535)}); }), 2);
  Value empty = callv("make-array", {fix(0), fix(65535)});
  EXPECT_EQ(error_of([&] { callv("array-ref", {empty, fix(0), fix(0)}); }), 2);
  Value largest = callv("make-array", {fix(16382)});
  EXPECT_EQ(callv("array-ref", {largest, fix(16381)}), fix(0));
}

TEST_F(Vectors, CopyArrayNeverWritesPastItsTarget) {
  Value from = callv("make-array", {fix(4)});
  Value to = callv("make-array", {fix(3)});
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("copy-array", {from, to}); }, &culprit), 2);
  EXPECT_EQ(error_of([&] { callv("copy-array", {from, callv("vector", {})}); }), 2);
  callv("array-set!", {to, sym("q"), fix(2)});
  Value bigger = callv("make-array", {fix(2), fix(2)});
  EXPECT_EQ(callv("copy-array", {to, bigger}), kNoValue);
  EXPECT_EQ(callv("array-ref", {bigger, fix(0), fix(1)}), sym("q"));
}

}  // namespace
}  // namespace core::testing
