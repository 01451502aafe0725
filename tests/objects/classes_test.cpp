// Classes, inheritance by copy-down, single-owner names and definitions.
#include "fixture.hpp"

namespace core::testing {
namespace {

using ClassTest = ObjectTest;

TEST_F(ClassTest, RootAndMixins) {
  run("(define A (new-class 'A)) (define M (new-mixin 'M))");
  EXPECT_EQ(show_run("(ascendants A)"), "(#<class obj-root>)");
  EXPECT_EQ(show_run("(ascendants M)"), "()");
  EXPECT_EQ(show_run("(superclass (make-instance M))"), "()");
  EXPECT_EQ(show_run("(superclass (make-instance A))"), "#<class obj-root>");
  EXPECT_TRUE(objects::is_mixin(run("M")));
  EXPECT_FALSE(objects::is_mixin(run("A")));
  // A class mixing M in still gets the root, as its last superclass.
  run("(define B (new-class 'B M))");
  EXPECT_EQ(show_run("(ascendants B)"), "(#<class M> #<class obj-root>)");
  EXPECT_EQ(show_run("(genealogy B)"), "(#<class B> #<class M> #<class obj-root>)");
  EXPECT_EQ(show_run("(descendants M)"), "(#<class B>)");
  EXPECT_EQ(show_run("(class-name B)"), "B");
  // Predicates and the type primitives' class branches.
  EXPECT_EQ(show_run("(list (class? A) (instance? A) (object? A) (object? 5))"), "(t () t ())");
  run("(define b (make-instance B))");
  EXPECT_EQ(show_run("(list (instance? b) (class? b) (object? b))"), "(t () t)");
  EXPECT_EQ(show_run("(type-of b)"), "#<class B>");
  EXPECT_EQ(show_run("(type-of B)"), "#<class B>");
  EXPECT_EQ(show_run("(list (type? b 'M) (type? b 'obj-root) (type? b 'A) (type? b 'instance))"), "(t t () t)");
  EXPECT_EQ(show_run("(object-class b)"), "#<class B>");
  // Superclasses must be classes.
  EXPECT_EQ(error_in("(new-class 'C 5)"), 2);
  EXPECT_EQ(show(culprit()), "5");
  EXPECT_EQ(error_in("(new-mixin 'C A 'A)"), 2);
  EXPECT_EQ(error_in("(ascendants 5)"), 2);
}

TEST_F(ClassTest, RemakingAClassReplacesItInItsSuperclass) {
  run("(define A (new-class 'A)) (new-class 'B A) (new-class 'B A) (new-class 'C A)");
  EXPECT_EQ(show_run("(descendants A)"), "(#<class B> #<class C>)");
  run("(remove-class (car (descendants A)))");
  EXPECT_EQ(show_run("(descendants A)"), "(#<class C>)");
}

TEST_F(ClassTest, FirstSuperclassWinsAndRedefinitionsReachInheritors) {
  run("(define A (new-mixin 'A)) (define B (new-mixin 'B))");
  run("(A (define (x) 'a)) (B (define (x) 'b))");
  run("(define C (new-class 'C A B)) (define c (make-instance C))");
  EXPECT_EQ(show_run("(send c x)"), "a");
  // A later definition in B does not reach C; one in A does.
  run("(B (define (x) 'b2))");
  EXPECT_EQ(show_run("(send c x)"), "a");
  run("(A (define (x) 'a2))");
  EXPECT_EQ(show_run("(send c x)"), "a2");
  // Once C defines its own, redefinitions in A leave it alone, but reach
  // a sibling that inherited.
  run("(define D (new-class 'D A)) (define d (make-instance D))");
  run("(C (define (x) 'c))");
  run("(A (define (x) 'a3))");
  EXPECT_EQ(show_run("(send c x)"), "c");
  EXPECT_EQ(show_run("(send d x)"), "a3");
  // A subclass made after the definition copies it down too.
  run("(define E (new-class 'E D))");
  EXPECT_EQ(show_run("(send (make-instance E) x)"), "a3");
}

TEST_F(ClassTest, SingleOwnerNamesAreSeenOnlyFromDescendants) {
  run("(define A (new-class 'A)) (define A2 (new-class 'A2 A)) (define U (new-class 'U))");
  run("(A (define (m) 'from-a))");
  Value m = sym("m");
  EXPECT_EQ(record(m).owner, run("A").bits);
  EXPECT_EQ(record(m).slot, 0xFFFF);  // costs no table index
  EXPECT_EQ(show_run("(send (make-instance A) m)"), "from-a");
  EXPECT_EQ(show_run("(send (make-instance A2) m)"), "from-a");
  EXPECT_EQ(error_in("m"), 6);
  EXPECT_EQ(error_in("(send (make-instance U) m)"), 6);
  EXPECT_EQ(show_run("(bound? 'm)"), "()");
  // Redefining in the owner keeps the shortcut.
  run("(A (define (m) 'again))");
  EXPECT_EQ(record(m).owner, run("A").bits);
  EXPECT_EQ(show_run("(send (make-instance A2) m)"), "again");
  // A second class defining it moves the first into tables.
  run("(U (define (m) 'from-u))");
  EXPECT_EQ(record(m).owner, kEndArgs.bits);
  EXPECT_NE(record(m).slot, 0xFFFF);
  EXPECT_EQ(show_run("(send (make-instance A) m)"), "again");
  EXPECT_EQ(show_run("(send (make-instance A2) m)"), "again");
  EXPECT_EQ(show_run("(send (make-instance U) m)"), "from-u");
  EXPECT_EQ(error_in("m"), 6);
}

TEST_F(ClassTest, DefiningOutsideObjectsMovesASingleOwnerName) {
  run("(define A (new-class 'A)) (A (define (m) 'a))");
  run("(define m 'global)");
  EXPECT_EQ(show_run("m"), "global");
  EXPECT_EQ(show_run("(send (make-instance A) m)"), "a");
}

TEST_F(ClassTest, GlobalNamesDefinedInClassesKeepTheirGlobalValue) {
  run("(define size 'global) (define A (new-class 'A)) (A (define size 'class))");
  EXPECT_EQ(record(sym("size")).owner, 0u);
  EXPECT_EQ(show_run("size"), "global");
  EXPECT_EQ(show_run("(send (make-instance A) (lambda () size))"), "class");
}

TEST_F(ClassTest, DefineInAnInstanceDefinesInItsClass) {
  run("(define A (new-class 'A)) (define a (make-instance A)) (define a2 (make-instance A))");
  run("(a (define (hello) 'hi))");
  EXPECT_EQ(show_run("(send a2 hello)"), "hi");
  EXPECT_EQ(show_run("(A (new-method 'bye (lambda () 'ciao)))"), "#<11>");
  EXPECT_EQ(show_run("(send a bye)"), "ciao");
}

TEST_F(ClassTest, TablesGrowPastTheirFirstSize) {
  run("(define A (new-class 'A))");
  EXPECT_EQ(num("(class-table-size A)"), 200);
  // Give out 260 indexes (the slot names), then define past the end.
  std::string body = "(A";
  for (int i = 0; i < 260; ++i) body += " (defslot s" + std::to_string(i) + " :default " + std::to_string(i) + ")";
  run(body + ")");
  EXPECT_GE(num("(class-table-size A)"), 260);
  EXPECT_EQ(num("(send (make-instance A) (lambda () s259))"), 259);
  // A class made now starts with a table as large as the counter.
  EXPECT_GE(num("(class-table-size (new-class 'B))"), 260);
  EXPECT_EQ(num("(send (make-instance (new-class 'C A)) (lambda () s250))"), 250);
}

TEST_F(ClassTest, UniteClassChecksTheSuperclasses) {
  run("(define M (new-mixin 'M)) (define A (new-class 'A M))");
  // The first call after start-up checks nothing.
  EXPECT_EQ(show_run("(unite-class 'A 5)"), "#<class A>");
  EXPECT_EQ(show_run("(unite-class 'A M obj-root)"), "#<class A>");
  EXPECT_EQ(show_run("(unite-class 'A)"), "#<class A>");
  EXPECT_EQ(error_in("(unite-class 'A obj-root)"), 2);
  EXPECT_EQ(show(culprit()), "#<class obj-root>");
  EXPECT_EQ(error_in("(unite-class 'A M)"), 2);
  EXPECT_EQ(show(culprit()), "(#<class obj-root>)");
  EXPECT_EQ(show_run("(class-united? A)"), "t");
}

TEST_F(ClassTest, DefiningAPersistentClassRunsTheClassUpdateHook) {
  run("(define obj-persistence (new-class 'obj-persistence)) (define updated ())");
  run("(define (update-classes _c) (set! updated (cons (class-name _c) updated)))");
  // While System? is true (start-up), nothing is updated and every class
  // joins System-Classes.
  run("(define Early (new-class 'Early obj-persistence))");
  EXPECT_EQ(show_run("updated"), "()");
  EXPECT_EQ(run("(car System-Classes)"), run("Early"));
  run("(set! System? ())");
  run("(define Doc (new-class 'Doc obj-persistence))");
  run("(define Alias (new-class 'Elsewhere obj-persistence))");  // not under its own name
  run("(define Plain (new-class 'Plain))");                       // not persistent
  EXPECT_EQ(show_run("updated"), "(Doc)");
  EXPECT_EQ(run("(car System-Classes)"), run("Early"));
}

Value native_size(Value*) { return make_fixnum(42); }
Value native_twice(Value* a) { return make_fixnum(2 * read_integer(a[0])); }

TEST_F(ClassTest, NativeClassesAndMethods) {
  Value before = run("System-Classes");
  Value cls = objects::define_native_class("widget", nullptr, kNil);
  EXPECT_EQ(show_run("(ascendants widget)"), "(#<class obj-root>)");
  EXPECT_EQ(run("(car System-Classes)"), cls);
  EXPECT_NE(run("System-Classes"), before);
  objects::register_native_method(cls, "size", native_size, 0);
  objects::register_native_method(cls, "twice", native_twice, 1);
  run("(define button (new-class 'button widget))");
  EXPECT_EQ(num("(send (make-instance button) size)"), 42);
  EXPECT_EQ(num("(send (make-instance widget) twice 21)"), 42);
  // A list of superclasses.
  Value sub = objects::define_native_class("wide-widget", nullptr, run("(list widget)"));
  EXPECT_EQ(show(run("(ascendants wide-widget)")), "(#<class widget>)");
  EXPECT_EQ(num("(send (make-instance wide-widget) twice 4)"), 8);
  (void)sub;
}

}  // namespace
}  // namespace core::testing
