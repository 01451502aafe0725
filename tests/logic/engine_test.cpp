// The logic engine driven from native code: search depth against the
// stacks, trail overflow, discarded environments, and collections while
// molecules are live.
#include <string>

#include "core/clock.hpp"
#include "core/eval.hpp"
#include "data/reader.hpp"
#include "tests/core/fixture.hpp"

namespace {
using namespace core;
using core::testing::MachineTest;

#ifdef TALVEN_GC_STRESS
constexpr bool kStress = true;
#else
constexpr bool kStress = false;
#endif

constexpr const char* kClauses =
    "(defclause (count 0))"
    "(defclause (count _n) (> _n 0) (count (- _n 1)))"
    "(defclause (app () _l _l))"
    "(defclause (app (_h . _t) _l (_h . _r)) (app _t _l _r))"
    "(defclause (nrev () ()))"
    "(defclause (nrev (_h . _t) _r) (nrev _t _rt) (app _rt '(_h) _r))"
    "(defclause (r _n _l) (< _n 0))"
    "(defclause (r 0 ()))"
    "(defclause (r _n (_n . _t)) (> _n 0) (r (- _n 1) _t))"
    "(define (upto _n) (r _n _l) _l)"
    "(define (rev _l) (nrev _l _r) _r)";

class LogicTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    run(kClauses);
  }
  MemoryPrefs prefs() override {
    MemoryPrefs p = core::testing::small_prefs();
    p.lisp_words = 1u << 20;  // the command line's Lisp stack
    p.prolog_words = prolog_words_;
    p.nodes = nodes_;
    return p;
  }
  uint32_t preferred() override { return 32u << 20; }

  // Evaluates every form of a text; the value of the last.
  Value run(const std::string& text) {
    Value forms = data::parse_string(make_string(text.c_str()));
    Value v = kNoValue;
    for (; forms.is_pair(); forms = cdr(forms)) v = eval(car(forms));
    return v;
  }
  int error_in(const std::string& text) {
    return error_of([&] { run(text); });
  }
  // The machine is as the search found it: stacks back at their marks.
  void expect_clean() {
    EXPECT_EQ(rt().zones.sp, stack_);
    EXPECT_EQ(rt().zones.prolog_sp, trail_);
  }
  void mark() {
    stack_ = rt().zones.sp;
    trail_ = rt().zones.prolog_sp;
  }

  uint32_t prolog_words_ = 64u << 10;
  // Counts above the fixnum range are boxed: one node per step.
  uint32_t nodes_ = 300000;
  Value* stack_ = nullptr;
  Value* trail_ = nullptr;
};

TEST_F(LogicTest, DeepDeterministicRecursion) {
  StressPause pause;  // one collection per step would take hours
  mark();
  // By its last goal: in constant stack, far deeper than the stack holds
  // frames.
  EXPECT_EQ(run("(count 1000000)"), rt().sym.t);
  expect_clean();
  // With a goal after the recursive call every frame stays: far too deep
  // for the Lisp stack is error 61, and the machine goes on.
  run("(defclause (deep 0)) (defclause (deep _n) (> _n 0) (deep (- _n 1)) (true))");
  EXPECT_EQ(run("(deep 1000)"), rt().sym.t);
  EXPECT_EQ(error_in("(deep 10000000)"), 61);
  expect_clean();
  EXPECT_EQ(run("(count 10)"), rt().sym.t);
  EXPECT_EQ(read_integer(run("(length (upto 20000))")), 20000);
  expect_clean();
  // A recursion through Lisp goals nests queries natively: the native
  // stack's limit ends it with error 61 too.
  run("(defclause (nest _n) (> _n 0) (begin (nest (- _n 1)))) (defclause (nest 0))");
  EXPECT_EQ(run("(nest 1000)"), rt().sym.t);
  EXPECT_EQ(error_in("(nest 10000000)"), 61);
  expect_clean();
  EXPECT_EQ(run("(nest 10)"), rt().sym.t);
}

TEST_F(LogicTest, CircularBindingCopiedOutIsAnError) {
  StressPause pause;
  // No occurs check: the binding is made, and copying it out for the caller
  // would never end. An error, not a hang; the machine goes on.
  mark();
  run("(defclause (eq _a _a)) (define (cyclic-out) (eq _x '(a _x)) _x)");
  EXPECT_EQ(error_in("(cyclic-out)"), 61);
  expect_clean();
  EXPECT_EQ(run("(eq 1 1)"), rt().sym.t);
}

int g_polls = 0;

TEST_F(LogicTest, TheSearchPollsEvents) {
  // The search polls like the evaluator's loops: at most every 100 ms.
  StressPause pause;
  g_polls = 0;
  rt().hooks.poll = [] { ++g_polls; };
  rt().last_poll_ms = clock_ms() - 101;  // a poll is due
  rt().poll_countdown = 0;
  EXPECT_EQ(run("(count 3000)"), rt().sym.t);
  EXPECT_GE(g_polls, 1);
  int before = g_polls;
  EXPECT_EQ(run("(count 3000)"), rt().sym.t);
  EXPECT_LE(g_polls, before + 1);
  rt().hooks.poll = nullptr;
}

class SmallTrailTest : public LogicTest {
 protected:
  SmallTrailTest() { prolog_words_ = 256; }
};

TEST_F(SmallTrailTest, TrailOverflowIsError9) {
  mark();
  // Each step leaves a choice point and binds its caller's cell.
  EXPECT_EQ(read_integer(run("(length (upto 100))")), 100);
  expect_clean();
  EXPECT_EQ(error_in("(upto 1000)"), 9);
  expect_clean();
  EXPECT_EQ(read_integer(run("(length (upto 100))")), 100);
}

TEST_F(LogicTest, DiscardedEnvironmentIsError5) {
  // A molecule whose reference names a frame that is gone (past the top of
  // the stack, or a word that is not the reference) is never read.
  Value past = alloc_node(Tag::Long, make_header(Header::Long, uint32_t(rt().zones.sp - rt().zones.lisp_stack) + 40), 7);
  Value stale = alloc_node(Tag::VarCell, kNil.bits, past.bits);
  EXPECT_EQ(error_of([&] { rt().hooks.deref_cell(stale); }), 5);
  push(make_fixnum(3));
  push(kNil);
  push(make_fixnum(-1));
  push(make_fixnum(0));
  Value here = alloc_node(Tag::Long, make_header(Header::Long, uint32_t(rt().zones.sp - rt().zones.lisp_stack) - 4), 3);
  Value other = alloc_node(Tag::VarCell, cons(make_fixnum(1), kNil).bits, here.bits);
  EXPECT_EQ(error_of([&] { rt().hooks.deref_cell(other); }), 5);
  rt().zones.sp -= 4;
}

class SmallZoneTest : public LogicTest {
 protected:
  SmallZoneTest() { nodes_ = 20000; }
};

TEST_F(SmallZoneTest, CollectionsDuringTheSearch) {
  // A small node zone: the search collects many times (at every allocation
  // in the collect-always build) while molecules hold the partial lists.
  const int n = kStress ? 12 : 60;
  uint64_t before = rt().zones.collections;
  Value v = run("(rev (upto " + std::to_string(n) + "))");
  // (upto n) counts down; its reverse counts up.
  int i = 1;
  for (; v.is_pair(); v = cdr(v), ++i) ASSERT_EQ(car(v), make_fixnum(i));
  EXPECT_EQ(i, n + 1);
  if (!kStress) {
    for (int k = 0; k < 40; ++k) run("(rev (upto 60))");
  }
  EXPECT_GT(rt().zones.collections, before);
}

}  // namespace
