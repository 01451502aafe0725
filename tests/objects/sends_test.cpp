// Message sending: `send` in its three modes, object application,
// overrides, the native sends and the error handler object.
#include "core/frames.hpp"
#include "fixture.hpp"

namespace core::testing {
namespace {

using SendTest = ObjectTest;

TEST_F(SendTest, ArgumentsAreEvaluatedInTheCallersContext) {
  run("(define A (new-class 'A)) (A (defslot v :default 'receiver) (define (echo _x) (list _x v)))");
  run("(define B (new-class 'B)) (B (defslot v :default 'caller) (define (ask _o) (send _o echo v)))");
  run("(define a (make-instance A)) (define b (make-instance B))");
  EXPECT_EQ(show_run("(send b ask a)"), "(caller receiver)");
  // Self inside and around.
  EXPECT_EQ(run("(send a self)"), run("a"));
  EXPECT_EQ(run("(self)"), kNoObject);
  // The message form is evaluated with the receiver current.
  EXPECT_EQ(show_run("(send a (if 1 echo) 1)"), "(1 receiver)");
  EXPECT_EQ(error_in("(send a unknown-message)"), 6);
  EXPECT_EQ(show(culprit()), "unknown-message");
}

TEST_F(SendTest, SendAppliedToValues) {
  run("(define A (new-class 'A)) (A (define (pair _x _y) (list _y _x)))");
  run("(define a (make-instance A))");
  // apply: a list of values; the object element is evaluated once more.
  EXPECT_EQ(show_run("(apply send (list 'a 'pair 1 2))"), "(2 1)");
  EXPECT_EQ(show_run("(apply send (list a 'pair '(x) 'y))"), "(y (x))");
  // From native code (mode 2): the arguments are values.
  Value args[] = {run("a"), sym("pair"), run("'(p)"), sym("q"), kEndArgs};
  EXPECT_EQ(show(apply(symbol_value(sym("send")), kNil, args, Mode::Vector, kNil)), "(q (p))");
}

TEST_F(SendTest, SendingToNonObjectsCallsTheGlobalFunction) {
  EXPECT_EQ(show_run("(send 5 cons 1 2)"), "(1 . 2)");
  EXPECT_EQ(run("(send 5 self)"), kNoObject);
  EXPECT_EQ(run("(send () self)"), kNoObject);
  EXPECT_EQ(error_in("(send 5 no-such-function)"), 6);
  EXPECT_EQ(error_in("(send 5 5)"), 5);
}

TEST_F(SendTest, ErrorsInsideASendRestoreTheCurrentObject) {
  run("(define A (new-class 'A)) (A (define (fail) (car (undefined))))");
  run("(define a (make-instance A))");
  EXPECT_EQ(error_in("(send a fail)"), 6);
  EXPECT_EQ(rt().current_object, kNoObject);
  run("(define B (new-class 'B)) (B (define (nest _o) (catch 'x (send _o fail)) (self)))");
  run("(A (define (fail) (throw 'x 1)))");
  run("(define b (make-instance B))");
  EXPECT_EQ(run("(send b nest a)"), run("b"));
  EXPECT_EQ(rt().current_object, kNoObject);
}

TEST_F(SendTest, ApplyingAnObjectEvaluatesFormsWithItCurrent) {
  run("(define A (new-class 'A)) (define a (make-instance A))");
  EXPECT_EQ(run("(a (self))"), run("a"));
  EXPECT_EQ(run("(a)"), kNoValue);
  EXPECT_EQ(show_run("(a 1 2 'three)"), "three");
  EXPECT_EQ(show_run("(apply a '((self) 4))"), "4");
  EXPECT_EQ(run("(apply a (list '(self)))"), run("a"));
}

TEST_F(SendTest, OverridesArePrivateToTheirObject) {
  run("(define W (new-class 'W)) (W (define (paint) 'class-paint))");
  run("(define w1 (make-instance W)) (define w2 (make-instance W))");
  run("(define (fancy) (list 'fancy ((overriden paint))))");
  run("(w1 (add-override 'paint fancy))");
  EXPECT_EQ(show_run("(send w1 paint)"), "(fancy class-paint)");
  EXPECT_EQ(show_run("(send w2 paint)"), "class-paint");
  // remove-override takes away the most recent pair only.
  run("(w1 (add-override 'paint (lambda () 'second)))");
  EXPECT_EQ(show_run("(send w1 paint)"), "second");
  run("(w1 (remove-override 'paint))");
  EXPECT_EQ(show_run("(send w1 paint)"), "(fancy class-paint)");
  run("(w1 (remove-override 'paint))");
  EXPECT_EQ(show_run("(send w1 paint)"), "class-paint");
  run("(w1 (remove-override 'paint))");  // nothing left: no effect
  EXPECT_EQ(error_in("(add-override 'paint 1)"), 2);
  EXPECT_EQ(error_in("(w1 (overriden nothing-here))"), 6);
}

Value g_seen_self;
Value native_probe(Value*) {
  g_seen_self = rt().current_object;
  return make_fixnum(7);
}

TEST_F(SendTest, NativeSendsApplyTheDescentTest) {
  run("(define A (new-class 'A)) (define U (new-class 'U)) (A (define (only-a) 'a))");
  Value a = run("(make-instance A)"), u = run("(make-instance U)");
  Value none[] = {kEndArgs};
  EXPECT_EQ(show(objects::native_send(a, sym("only-a"), none)), "a");
  // Outside the owner's tree the name answers no-value and runs nothing.
  EXPECT_EQ(objects::native_send(u, sym("only-a"), none), kNoValue);
  EXPECT_EQ(objects::native_send(a, sym("not-understood"), none), kNoValue);
  // A receiver given as a symbol is evaluated first.
  run("(define the-a (make-instance A))");
  EXPECT_EQ(show(objects::native_send(sym("the-a"), sym("only-a"), none)), "a");
  // A function value is applied with the receiver current.
  Value probe = make_native(native_probe, 0, Tag::Primitive);
  EXPECT_EQ(objects::native_send(u, probe, none), make_fixnum(7));
  EXPECT_EQ(g_seen_self, u);
  EXPECT_EQ(rt().current_object, kNoObject);
  EXPECT_EQ(show(objects::with_object(a, sym("only-a"))).substr(0, 2), "#<");
}

TEST_F(SendTest, ProtectedSendRecordsTheFirstExit) {
  run("(define A (new-class 'A)) (A (define (leave _tag) (throw _tag 'gone)) (define (fine) 'ok))");
  Value a = run("(make-instance A)");
  Runtime& r = rt();
  StackMark mark;
  CatchFrame one(sym("first"));
  one.make_current();
  CatchFrame two(sym("second"));
  two.make_current();
  Value first[] = {sym("first"), kEndArgs};
  Value second[] = {sym("second"), kEndArgs};
  Value none[] = {kEndArgs};
  EXPECT_EQ(objects::protected_send(a, sym("leave"), first), kNoValue);
  EXPECT_EQ(r.pending_tag, sym("first"));
  EXPECT_EQ(objects::protected_send(a, sym("leave"), second), kNoValue);
  EXPECT_EQ(r.pending_tag, sym("first"));  // the first one stays
  EXPECT_EQ(show(r.pending_value), "gone");
  EXPECT_EQ(show(objects::protected_send(a, sym("fine"), none)), "ok");
  EXPECT_EQ(r.current_object, kNoObject);
}

TEST_F(SendTest, ErrorTrapIsSentToTheHandlerObject) {
  run("(define H (new-class 'H)) (define got ())");
  run("(H (define (error-trap _kind _number _value _object _a _b) (set! got (list _kind _number _value))))");
  run("(define Error-Handler (make-instance H))");
  EXPECT_EQ(error_in("(car undefined-thing)"), 6);
  EXPECT_EQ(show_run("got"), "(1010 6 undefined-thing)");
  EXPECT_EQ(rt().current_object, kNoObject);
}

TEST_F(SendTest, WithSendsDestroy) {
  run("(define R (new-class 'R)) (define log ()) (R (define (destroy) (set! log (cons 'destroyed log))))");
  run("(define (use) (with ((_r (make-instance R))) 'body))");
  EXPECT_EQ(show_run("(use)"), "body");
  EXPECT_EQ(show_run("log"), "(destroyed)");
  // An object without destroy is left alone.
  run("(define Q (new-class 'Q)) (define (use2) (with ((_q (make-instance Q))) 'fine))");
  EXPECT_EQ(show_run("(use2)"), "fine");
}

}  // namespace
}  // namespace core::testing

namespace core::testing {
namespace {

// Every heap record moves (the heap slides up) in the middle of methods,
// definitions and slot stores: nothing may keep a pointer across that.
TEST_F(SendTest, RecordsMoveMidMethod) {
  run("(define A (new-class 'A)) (define B (new-class 'B A))");
  run("(A (defslot v :default 1) (defslot w :type word :default 2) (defslot f :type boolean)"
      " (define (churn _n) (move-indirects 64) (set! v (list _n v)) (move-indirects 2)"
      "  (set! w (+ w 1)) (A (define extra 5)) (move-indirects 64) (set! f w) (list v w f extra)))");
  run("(define b (make-instance B))");
  EXPECT_EQ(show_run("(send b churn 7)"), "((7 1) 3 t 5)");
  EXPECT_EQ(show_run("(send b churn 8)"), "((8 (7 1)) 4 t 5)");
  EXPECT_EQ(show_run("(send (make-instance B) churn 9)"), "((9 1) 3 t 5)");
  EXPECT_EQ(show_run("(send B (lambda () (move-indirects 4) v))"), "1");
}

}  // namespace
}  // namespace core::testing
