// Slots: declaration and options, layout, typed storage, defaults, links,
// copy-on-write and the records the collector sees.
#include "fixture.hpp"
#include "objects/internal.hpp"

namespace core::testing {
namespace {

using SlotTest = ObjectTest;

TEST_F(SlotTest, SlotsReadAndWriteLikeVariablesInMethods) {
  run("(define P (new-class 'P))");
  run("(P (defslot x :default 1) (defslot y :default 2) (define (sum) (+ x y)) (define (move _d) (set! x (+ x _d))))");
  run("(define p (make-instance P)) (define q (make-instance P))");
  EXPECT_EQ(num("(send p sum)"), 3);
  run("(send p move 10)");
  EXPECT_EQ(num("(send p sum)"), 13);
  EXPECT_EQ(num("(send q sum)"), 3);  // each instance has its own storage
  EXPECT_EQ(show_run("(send p (lambda () (object-slots (self))))"), "(x y)");
  EXPECT_EQ(show_run("(object-slots p)"), "(x y)");
  // The class itself holds the class-level values.
  EXPECT_EQ(num("(send P sum)"), 3);
  // Setting a method name from a method replaces it in the class.
  run("(define (replacement) 'replaced) (P (define (swap) (set! sum replacement)))");
  run("(send q swap)");
  EXPECT_EQ(show_run("(send p sum)"), "replaced");
  // A slot name is not bound outside objects.
  EXPECT_EQ(error_in("x"), 6);
}

TEST_F(SlotTest, TypedSlotsRoundTripTheirRanges) {
  run("(define T1 (new-class 'T1))");
  run("(T1 (defslot f :type boolean) (defslot b :type byte :default 5) (defslot w :type word :default -3)"
      " (defslot v :default 'sym))");
  run("(define o (make-instance T1))");
  EXPECT_EQ(show_run("(send o (lambda () (list f b w v)))"), "(() 5 -3 sym)");
  auto set_get = [&](const char* slot, const char* value) {
    return show_run(std::string("(send o (lambda () (set! ") + slot + " " + value + ") " + slot + "))");
  };
  EXPECT_EQ(set_get("f", "7"), "t");
  EXPECT_EQ(set_get("f", "()"), "()");
  EXPECT_EQ(set_get("f", "'x"), "t");
  EXPECT_EQ(set_get("b", "300"), "44");
  EXPECT_EQ(set_get("b", "128"), "-128");
  EXPECT_EQ(set_get("b", "-128"), "-128");
  EXPECT_EQ(set_get("b", "127"), "127");
  EXPECT_EQ(set_get("w", "32767"), "32767");
  EXPECT_EQ(set_get("w", "32768"), "-32768");
  EXPECT_EQ(set_get("w", "70000"), "4464");
  // Byte and word slots take integers only, longs included.
  EXPECT_EQ(error_in("(send o (lambda () (set! b 'a)))"), 2);
  EXPECT_EQ(error_in("(send o (lambda () (set! w ())))"), 2);
  EXPECT_EQ(set_get("w", "(+ 8388606 3)"), "1");  // 0x800001, a long: its low 16 bits
  EXPECT_EQ(set_get("b", "8388606"), "-2");
  // The boolean shares nothing with the byte beside it.
  EXPECT_EQ(show_run("(send o (lambda () (set! f t) (list f b w)))"), "(t -2 1)");
}

TEST_F(SlotTest, BooleansPackEightToAByte) {
  std::string body = "(define B9 (new-class 'B9)) (B9";
  for (int i = 1; i <= 9; ++i) body += " (defslot bit" + std::to_string(i) + " :type boolean)";
  run(body + ")");
  run("(define o (make-instance B9))");
  Value cls = run("B9");
  // Header, size word, then two bytes.
  EXPECT_EQ(objects::load16(indirect_bytes(cls) + objects::kInstanceSize), objects::kSlotStart + 2);
  // The ninth (laid out last: the passes go from the highest index down)
  // starts the second byte at bit 0x80.
  Value h1 = objects::find_handle(cls, sym("bit1"));
  Value h9 = objects::find_handle(cls, sym("bit9"));
  EXPECT_EQ(objects::position_offset(h9), objects::kSlotStart);
  EXPECT_EQ(objects::position_code(h9), 0x80);
  EXPECT_EQ(objects::position_offset(h1), objects::kSlotStart + 1);
  EXPECT_EQ(objects::position_code(h1), 0x80);
  run("(send o (lambda () (set! bit1 t) (set! bit5 t)))");
  EXPECT_EQ(show_run("(send o (lambda () (list bit1 bit2 bit5 bit9)))"), "(t () t ())");
}

TEST_F(SlotTest, LayoutIsFixedByTheFirstInstance) {
  run("(define L (new-class 'L)) (L (defslot a :default 1)) (define l1 (make-instance L))");
  EXPECT_EQ(error_in("(L (defslot b))"), 56);
  EXPECT_EQ(show(culprit()), "b");
  EXPECT_EQ(error_in("(L (defslot a :type byte))"), 57);
  EXPECT_EQ(show(culprit()), ":type");
  EXPECT_EQ(error_in("(L (defslot a :allocate? ()))"), 57);
  // Setting an option to its current value, or any other option, is fine.
  run("(L (defslot a :allocate? t :default 4))");
  EXPECT_EQ(error_in("(L (defslot a :colour 3))"), 2);
  EXPECT_EQ(show(culprit()), ":colour");
  EXPECT_EQ(error_in("(defslot z)"), 2);
  run("(reset-inited L)");
  run("(L (defslot b :default 2 :type word) (defslot c :default 'c))");
  run("(define l2 (make-instance L))");
  EXPECT_EQ(show_run("(send l2 (lambda () (list a b c)))"), "(4 2 c)");
}

TEST_F(SlotTest, InstancesMadeBeforeResetInitedKeepTheirLayout) {
  run("(define R (new-class 'R)) (R (defslot a :default 'a) (defslot n :type byte :default 9))");
  run("(define old (make-instance R)) (send old (lambda () (set! a (list 1 2))))");
  Value old = run("old");
  uint32_t old_size = objects::instance_size(old);
  run("(reset-inited R)");
  // New slots of every kind, and a kind change of an existing one.
  run("(R (defslot v :default (list 7)) (defslot w :type word :default 3) (defslot n :type word :default 5))");
  run("(define new (make-instance R))");
  EXPECT_EQ(objects::instance_size(old), old_size);
  EXPECT_GT(objects::instance_size(run("new")), old_size);
  EXPECT_EQ(rt().instance_size(old), old_size);
  EXPECT_EQ(show_run("(send old (lambda () a))"), "(1 2)");
  EXPECT_EQ(show_run("(send new (lambda () (list a v w n)))"), "(a (7) 3 5)");
  // The older instance has no room for the slots laid out after it: reading
  // gives the default, writing is refused, nothing lands outside it.
  EXPECT_EQ(show_run("(send old (lambda () (list v w n)))"), "((7) 3 5)");
  EXPECT_EQ(error_in("(send old (lambda () (set! v 1)))"), 2);
  EXPECT_EQ(show(culprit()), "v");
  // The collector marks only the words that are Values in that instance.
  std::vector<uint32_t> marked;
  static std::vector<uint32_t>* sink;
  sink = &marked;
  objects::mark_record(old, [](Value v) { sink->push_back(v.bits); });
  ASSERT_EQ(marked.size(), 4u);  // class, native part, overrides, a
  EXPECT_EQ(show(Value(marked[3])), "(1 2)");
}

TEST_F(SlotTest, CopyOnWriteKeepsPositions) {
  run("(define A (new-class 'A)) (A (defslot p :default 1) (defslot q :default 2))");
  run("(define B (new-class 'B A)) (define b (make-instance B)) (send b (lambda () (set! p 10) (set! q 20)))");
  Value before = objects::find_handle(run("B"), sym("q"));
  // B changes an option of an inherited slot: it gets its own descriptor.
  run("(B (set-slot-field 'q :default 99))");
  Value after = objects::find_handle(run("B"), sym("q"));
  EXPECT_NE(before, after);
  EXPECT_NE(cdr(before), cdr(after));
  EXPECT_EQ(car(before), car(after));
  EXPECT_EQ(show_run("(send b (lambda () (list p q)))"), "(10 20)");
  EXPECT_EQ(show_run("(send (make-instance B) (lambda () (list p q)))"), "(1 99)");
  EXPECT_EQ(show_run("(send (make-instance A) (lambda () (list p q)))"), "(1 2)");
  // The class-level value of B is written through its own copy too.
  run("(send B (lambda () (set! p 5)))");
  EXPECT_EQ(num("(send A (lambda () p))"), 1);
  EXPECT_EQ(num("(send B (lambda () p))"), 5);
}

TEST_F(SlotTest, DefaultsReachSubclassesThatDidNotSetTheirOwn) {
  run("(define A (new-class 'A)) (A (defslot d :default 1))");
  run("(define B (new-class 'B A)) (define C (new-class 'C A)) (define D (new-class 'D B))");
  run("(C (defslot d :default 3))");
  run("(A (defslot d :default 2))");
  EXPECT_EQ(num("(send (make-instance B) (lambda () d))"), 2);
  EXPECT_EQ(num("(send (make-instance D) (lambda () d))"), 2);
  EXPECT_EQ(num("(send (make-instance C) (lambda () d))"), 3);
  EXPECT_EQ(num("(send (make-instance A) (lambda () d))"), 2);
  // Class-level values follow the same rule.
  EXPECT_EQ(num("(send D (lambda () d))"), 2);
  EXPECT_EQ(num("(send C (lambda () d))"), 3);
}

TEST_F(SlotTest, OptionsReadBack) {
  run("(define A (new-class 'A))");
  run("(A (defslot s :initform (+ 1 2) :reader get-s :link? 5 :list? () :info help :initialize? :write))");
  run("(A (defslot plain))");
  EXPECT_EQ(show_run("(A (list (slot-name 's) (slot-initform 's) (slot-reader 's) (slot-info 's)))"),
            "(s (+ 1 2) get-s help)");
  EXPECT_EQ(show_run("(A (list (slot-link? 's) (slot-list? 's) (slot-allocate? 's) (slot-initialize? 's)))"),
            "(t () t :write)");
  EXPECT_EQ(show_run("(A (slot-default 'plain))"), "<no-value>");
  EXPECT_EQ(num("(A (slot-initial-value 's))"), 3);
  run("(A (defslot u :default (list 1)))");
  EXPECT_EQ(show_run("(A (slot-initial-value 'u))"), "(1)");  // the default, not evaluated again
  EXPECT_EQ(show_run("(A (list (slot-exists? 's) (slot-exists? 'nothing)))"), "(t ())");
  // Names that are not slots are refused, never read through.
  EXPECT_EQ(error_in("(A (slot-default 'nothing))"), 2);
  EXPECT_EQ(show(culprit()), "nothing");
  EXPECT_EQ(error_in("(A (read-slot 'nothing))"), 2);
  EXPECT_EQ(error_in("(A (write-slot 'nothing 1))"), 2);
  EXPECT_EQ(error_in("(slot-default 's)"), 2);
  // set-slot-field evaluates an evaluated option's value once more.
  run("(define val 'evaluated) (A (set-slot-field 's :default 'val))");
  EXPECT_EQ(show_run("(A (slot-default 's))"), "evaluated");
  EXPECT_EQ(error_in("(A (set-slot-field 's :bogus 1))"), 2);
}

TEST_F(SlotTest, ReadersWritersAndInvalidate) {
  run("(define A (new-class 'A))");
  run("(A (defslot x :default 1 :invalidate? t) (defslot y :default 2 :reader (lambda () 'read-y)"
      " :writer (lambda (_v) (set! log (cons _v log)))) (define log ()) (define (invalidate) (set! count (+ count 1))) (define count 0))");
  run("(define a (make-instance A))");
  EXPECT_EQ(num("(send a (lambda () (read-slot 'x)))"), 1);
  EXPECT_EQ(show_run("(send a (lambda () (read-slot 'y)))"), "read-y");
  EXPECT_EQ(num("(send a (lambda () (write-slot 'x 5) x))"), 5);
  EXPECT_EQ(num("(send a (lambda () count))"), 1);
  run("(send a (lambda () (write-slot 'y 7)))");
  EXPECT_EQ(show_run("(send a (lambda () (list y log count)))"), "(2 (7) 1)");
}

TEST_F(SlotTest, LinkedSlotsResolveLazily) {
  run("(define calls 0)");
  run("(define (find-target _key) (set! calls (+ calls 1)) (list 'target _key))");
  run("(define A (new-class 'A)) (A (defslot l :link? t :linker find-target :default 'k))");
  run("(define a (make-instance A))");
  EXPECT_EQ(show_run("(send a (lambda () l))"), "(target k)");
  EXPECT_EQ(show_run("(send a (lambda () l))"), "(target k)");
  EXPECT_EQ(num("calls"), 1);  // the second read uses the cached target
  EXPECT_EQ(show_run("(send a (lambda () (list (get-reference 'l) (linked? 'l))))"), "(k t)");
  // Assigning replaces the target and keeps the cell.
  EXPECT_EQ(show_run("(send a (lambda () (set! l 'direct) (list l (get-reference 'l))))"), "(direct k)");
  run("(send a (lambda () (reset-link 'l)))");
  EXPECT_EQ(show_run("(send a (lambda () (linked? 'l)))"), "()");
  EXPECT_EQ(show_run("(send a (lambda () l))"), "(target k)");
  EXPECT_EQ(num("calls"), 2);
}

TEST_F(SlotTest, LinksWithoutLinkerKeepTheirKeyUntilFound) {
  run("(define registry ())");
  run("(define (find-link _key _slot) (if (= _key 1) registry ()))");
  run("(define B (new-class 'B)) (B (defslot name :default 'bee))");
  run("(define A (new-class 'A)) (A (defslot peer :link? t :default 1))");
  run("(define a (make-instance A))");
  EXPECT_EQ(show_run("(send a (lambda () peer))"), "()");
  // The key survived the failed resolution.
  EXPECT_EQ(num("(send a (lambda () (get-reference 'peer)))"), 1);
  run("(define b (make-instance B)) (set! registry b)");
  EXPECT_EQ(run("(send a (lambda () peer))"), run("b"));
  EXPECT_EQ(show_run("(send a (lambda () (list (linked? 'peer) (get-reference 'peer))))"), "(t bee)");
}

TEST_F(SlotTest, ConfigurationSlotRunsInitialisation) {
  run("(define A (new-class 'A)) (define Load-File 'file.lsp) (define trace ())");
  run("(A (define auto-initialize? t) (define (initialize) (set! trace (cons 'init trace))) (defslot configuration))");
  EXPECT_EQ(show_run("trace"), "(init)");
  EXPECT_EQ(show_run("(send A (lambda () config-pathname))"), "file.lsp");
}

TEST_F(SlotTest, InitialisationNeedsAnOpenedObject) {
  run("(define A (new-class 'A)) (A (defslot s :initialize? t :initform 5)) (define a (make-instance A))");
  EXPECT_EQ(error_in("(send a initialize-setable-slots)"), 2);
  EXPECT_EQ(show_run("(send a object-opened?)"), "()");
}

}  // namespace
}  // namespace core::testing
