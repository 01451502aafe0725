// Allocation failure at any point of a program ends as the out-of-memory
// alert and a throw to `toplevel`: never a crash, and the machine goes on
// working afterwards. The collect-always build passes every allocation
// through the allocators' slow paths, where Zones::fail_after makes the
// n-th one fail; the test walks n over each program.
#include <string>

#include "core/collector.hpp"
#include "core/eval.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/strings.hpp"
#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

int g_alerts = 0;

class AllocationFaults : public MachineTest {
 protected:
  // Reads and evaluates the forms of the text; false when it was left
  // by a throw to `toplevel`. Anything else escaping is a fault.
  bool run(const std::string& text, Value* result) {
    try {
      Value forms = data::parse_string(data::new_string(text));  // the list of the forms read
      return eval_toplevel(cons(intern_static("begin"), forms), result);
    } catch (const Thrower& t) {
      EXPECT_EQ(t.tag, rt().sym.toplevel);
      return false;
    }
  }
  // The number of allocations the text makes when nothing fails.
  uint64_t allocations(const std::string& text) {
    const uint64_t plenty = uint64_t(1) << 40;
    rt().zones.fail_after = plenty;
    Value v;
    EXPECT_TRUE(run(text, &v)) << text << ": " << rt().error_message;
    uint64_t used = plenty - rt().zones.fail_after;
    rt().zones.fail_after = 0;
    return used;
  }
  void walk(const std::string& text, const std::string& expected) {
    allocations(text);  // the first run interns the program's names
    uint64_t total = allocations(text);
    ASSERT_GT(total, 0u) << text;
    uint64_t step = total / 40 + 1;  // about 40 points per program
    int points = 0, failed = 0;
    for (uint64_t n = 1; n <= total; n += step) {
      ++points;
      rt().write_error_line = [](const std::string&) { ++g_alerts; };
      g_alerts = 0;
      rt().zones.fail_after = n;
      Value v;
      bool finished = run(text, &v);
      bool reached = rt().zones.fail_after == 0;
      rt().zones.fail_after = 0;
      // A run after a failure may need a few allocations less (what the
      // failed run made before failing stays).
      if (reached) {
        ++failed;
        EXPECT_FALSE(finished) << "allocation " << n << " failed unseen: " << text;
        EXPECT_EQ(g_alerts, 1) << "allocation " << n << ": " << text;
      }
      // The machine is whole: it collects and runs the program again.
      collect();
      Value again;
      ASSERT_TRUE(run(text, &again)) << "after allocation " << n << ": " << text << ": " << rt().error_message;
      EXPECT_EQ(data::value_text(again), expected) << "after allocation " << n;
    }
    EXPECT_GE(failed, points - 2) << text;
  }
};

TEST_F(AllocationFaults, EveryFailureIsAnAlertAndAThrowToToplevel) {
#ifndef TALVEN_GC_STRESS
  GTEST_SKIP() << "allocation failures are injected in the collect-always build";
#else
  walk("(define (down _n) (if (= _n 0) '() (cons _n (down (- _n 1))))) (length (down 30))", "30");
  walk("(define v (make-vector 5 \"x\")) (vector-set! v 2 (string-append \"ab\" \"cd\"))"
       " (vector->list v)",
       "(x x abcd x x)");
  walk("(define h (new-hash)) (hash-set! h 'a 1.5) (cons (hash-ref h 'a ()) 'b)", "(1.5 . b)");
  walk("(define K (new-class 'K)) (K (defslot who :default 'k) (define (hi _x) (cons _x who)))"
       " (send (make-instance K) hi 'x)",
       "(x . k)");
#endif
}

}  // namespace
}  // namespace core::testing
