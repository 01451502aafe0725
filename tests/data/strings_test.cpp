#include "data/strings.hpp"

#include "data/state.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class Strings : public NativeCallTest {
 protected:
  bool yes(Value v) { return v == rt().sym.t; }
};

TEST_F(Strings, CaseTablesFollowCodePage1252) {
  EXPECT_EQ(callv("lower-char", {fix(196)}), fix(228));
  EXPECT_EQ(callv("upper-char", {fix(228)}), fix(196));
  // The multiplication and division signs, y with diaeresis and the sharp s
  // have no case partner.
  for (int c : {0xD7, 0xF7, 0xFF, 0xDF, 0xF0, 0xD0}) {
    EXPECT_EQ(callv("upper-char", {fix(c)}), fix(c)) << c;
    EXPECT_EQ(callv("lower-char", {fix(c)}), fix(c)) << c;
  }
  // Only the low 8 bits of a character count.
  EXPECT_EQ(callv("upper-char", {fix(256 + 'a')}), fix('A'));
  EXPECT_EQ(text(callv("upper-string", {str("\xE9t\xE9 ok")})), "\xC9T\xC9 OK");
  EXPECT_EQ(text(callv("lower-string", {sym("ABC")})), "abc");
  EXPECT_EQ(error_of([&] { callv("upper-char", {str("a")}); }), 2);
}

TEST_F(Strings, AlphaCharCountsDigitsAndLatinLetters) {
  EXPECT_TRUE(yes(callv("alpha-char?", {fix(55)})));
  EXPECT_TRUE(yes(callv("alpha-char?", {fix(0xC0)})));
  EXPECT_TRUE(yes(callv("alpha-char?", {fix(0xFF)})));
  EXPECT_FALSE(yes(callv("alpha-char?", {fix(0xD7)})));
  EXPECT_FALSE(yes(callv("alpha-char?", {fix(0xF7)})));
  EXPECT_FALSE(yes(callv("alpha-char?", {fix('_')})));
}

TEST_F(Strings, CollationFoldsCaseAndAccentsAndBreaksTiesByCode) {
  EXPECT_TRUE(yes(callv("string<?", {str("apple"), str("Banana")})));
  EXPECT_FALSE(yes(callv("string<?", {str("a"), str("A")})));
  EXPECT_TRUE(yes(callv("string<?", {str("A"), str("a")})));
  EXPECT_FALSE(yes(callv("string<?", {str("\xE9t\xE9"), str("ete")})));
  EXPECT_TRUE(yes(callv("string>?", {str("\xE9t\xE9"), str("ete")})));
  EXPECT_TRUE(yes(callv("string<?", {str("ab"), str("abc")})));
  EXPECT_TRUE(yes(callv("string<=?", {str("abc"), str("abc")})));
  EXPECT_TRUE(yes(callv("string>=?", {str("abc"), str("abc")})));
  EXPECT_FALSE(yes(callv("string>?", {str("abc"), str("abc")})));
  // A shorter text that folds equal to the start of a longer one is smaller.
  EXPECT_TRUE(yes(callv("string<?", {str("AB"), str("abc")})));
  EXPECT_TRUE(yes(callv("string>?", {str("abc"), str("AB")})));
  EXPECT_EQ(data::collate("", ""), 0);
  EXPECT_EQ(data::collate("", "a"), -1);
  EXPECT_EQ(data::collate("a", ""), 1);
  // Numbers compare by their printed text.
  EXPECT_TRUE(yes(callv("string<?", {fix(10), fix(9)})));
}

TEST_F(Strings, EqualityOptions) {
  EXPECT_TRUE(yes(callv("string=?", {sym("abc"), str("abc")})));
  EXPECT_TRUE(yes(callv("string/=?", {str("abc"), str("abd")})));
  EXPECT_TRUE(yes(callv("string-nocase=?", {str("\xC9t\xE9"), str("\xE9t\xE9"), kNil})));
  EXPECT_FALSE(yes(callv("string-nocase=?", {str("\xC9t\xE9"), str("ete"), kNil})));
  EXPECT_TRUE(yes(callv("string-nocase=?", {str("\xC9t\xE9"), str("ete"), t()})));
  // The no-value word does not turn accents off.
  EXPECT_FALSE(yes(callv("string-nocase=?", {str("\xC9t\xE9"), str("ete"), kNoValue})));
  // Accent-insensitive but case-sensitive matching goes through the plain
  // table, which keeps the case.
  EXPECT_TRUE(data::texts_equal("\xC9t\xE9", "Ete", true, false));
  EXPECT_FALSE(data::texts_equal("\xC9t\xE9", "ete", true, false));
  EXPECT_FALSE(data::texts_equal("abc", "abcd", false, false));
}

TEST_F(Strings, SubstringCountsFromTheEndAndNeverReadsPastIt) {
  EXPECT_EQ(text(callv("substring", {str("hello"), fix(-3), kNil})), "llo");
  EXPECT_EQ(callv("substring", {str("hello"), fix(3), fix(1)}), rt().empty_string);
  EXPECT_EQ(text(callv("substring", {str("hello"), fix(1), fix(-1)})), "ell");
  EXPECT_EQ(text(callv("substring", {str("hello"), fix(-99), fix(2)})), "he");
  EXPECT_EQ(text(callv("substring", {str("hello"), fix(2), fix(99)})), "llo");
  EXPECT_EQ(callv("substring", {str("hello"), fix(10), kNil}), rt().empty_string);
  EXPECT_EQ(text(callv("substring", {fix(12345), fix(1), fix(3)})), "23");
  EXPECT_EQ(error_of([&] { callv("substring", {str("x"), str("a"), kNil}); }), 2);
}

TEST_F(Strings, Memstring) {
  EXPECT_EQ(text(callv("memstring", {str("LL"), str("hello"), t()})), "llo");
  EXPECT_TRUE(callv("memstring", {str("LL"), str("hello"), kNil}).is_nil());
  EXPECT_EQ(text(callv("memstring", {str(""), str("hello"), kNil})), "hello");
  EXPECT_TRUE(callv("memstring", {str("hello!"), str("hello"), kNil}).is_nil());
  EXPECT_EQ(text(callv("memstring", {str("lo"), str("hello"), kNil})), "lo");
  EXPECT_EQ(text(callv("memstring", {str("\xE9T"), str("x\xC9t\xE9"), t()})), "\xC9t\xE9");
}

TEST_F(Strings, IndexesAreCheckedWithTheOffendingArgument) {
  Value s = callv("copy-string", {str("abc")});
  EXPECT_EQ(callv("string-ref", {s, fix(2)}), fix('c'));
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("string-ref", {s, fix(3)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "3");
  EXPECT_EQ(error_in([&] { callv("string-ref", {s, fix(-1)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "-1");
  EXPECT_EQ(callv("string-set!", {s, fix(1), fix('X')}), fix('X'));
  EXPECT_EQ(text(s), "aXc");
  EXPECT_EQ(error_in([&] { callv("string-set!", {s, fix(3), fix('X')}); }, &culprit), 2);
  EXPECT_EQ(culprit, "3");
  EXPECT_EQ(error_in([&] { callv("string-set!", {s, fix(0), fix(32001)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "32001");
  EXPECT_EQ(error_in([&] { callv("string-set!", {s, fix(0), fix(-1)}); }, &culprit), 2);
  // A symbol's name and the shared empty string are never changed in place.
  Value name = callv("symbol->string", {sym("abc")});
  EXPECT_EQ(error_of([&] { callv("string-set!", {name, fix(0), fix('X')}); }), 2);
  EXPECT_EQ(std::string(symbol_text(sym("abc"))), "abc");
  EXPECT_EQ(error_of([&] { callv("string-set!", {sym("abc"), fix(0), fix('X')}); }), 2);
}

TEST_F(Strings, MakingStrings) {
  EXPECT_EQ(text(callv("make-string", {fix(3)})), "   ");
  EXPECT_EQ(callv("make-string", {fix(0)}), rt().empty_string);
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("make-string", {fix(32001)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "32001");
  EXPECT_EQ(error_of([&] { callv("make-string", {fix(-1)}); }), 2);
  EXPECT_EQ(text(callv("char", {fix(65)})), "A");
  EXPECT_EQ(callv("char", {fix(0)}), rt().empty_string);
  EXPECT_EQ(callv("ascii", {str("")}), fix(0));
  EXPECT_EQ(callv("ascii", {str("\xE9")}), fix(0xE9));
  EXPECT_EQ(callv("ascii", {fix(42)}), fix('4'));
}

TEST_F(Strings, ValueStringsAndAppending) {
  Value s = str("abc");
  EXPECT_EQ(callv("string", {s}), s);
  EXPECT_EQ(callv("symbol->string", {sym("abc")}), symbol_name(sym("abc")));
  EXPECT_NE(callv("copy-string", {s}), s);
  EXPECT_EQ(text(callv("string", {fix(-12)})), "-12");
  EXPECT_EQ(callv("string-append", {}), rt().empty_string);
  EXPECT_EQ(callv("string-append", {sym("abc")}), symbol_name(sym("abc")));
  EXPECT_EQ(text(callv("string-append", {str("a"), sym("b"), fix(3)})), "ab3");
  EXPECT_EQ(callv("string-append", {str(""), str("")}), rt().empty_string);
  EXPECT_EQ(callv("string-length", {sym("hello")}), fix(5));
  EXPECT_EQ(callv("string-length", {fix(-100)}), fix(4));
  EXPECT_EQ(callv("string->symbol", {str("abc")}), sym("abc"));
  Value fresh = callv("string->symbol", {str("never-seen-before")});
  EXPECT_EQ(find_symbol("never-seen-before"), fresh);
  EXPECT_TRUE(yes(callv("empty-string?", {str("")})));
  EXPECT_FALSE(yes(callv("empty-string?", {sym("x")})));
  EXPECT_TRUE(yes(callv("char?", {fix(-5)})));
  EXPECT_FALSE(yes(callv("char?", {str("a")})));
}

TEST_F(Strings, TextsLongerThanA16BitSizeAreError2) {
  Value big = callv("make-string", {fix(32000)});
  EXPECT_EQ(text(callv("string-append", {big, big})).size(), 64000u);
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("string-append", {big, big, big}); }, &culprit), 2);
  EXPECT_GT(std::stol(culprit), 65534);
  EXPECT_EQ(error_of([&] { data::new_string(std::string(65535, 'x')); }), 2);
  EXPECT_EQ(data::text_of(data::new_string(std::string(65534, 'x'))).size(), 65534u);
}

TEST_F(Strings, NumberSyntax) {
  EXPECT_EQ(callv("string->real", {str("3")}), fix(3));
  EXPECT_EQ(callv("string->int", {str(" -12 ")}), fix(-12));
  EXPECT_TRUE(callv("string->int", {str("+5")}).is_nil());
  EXPECT_TRUE(callv("string->int", {str("")}).is_nil());
  EXPECT_TRUE(callv("string->int", {str("-")}).is_nil());
  EXPECT_TRUE(callv("string->int", {str("12a")}).is_nil());
  EXPECT_TRUE(callv("string->int", {str("2147483648")}).is_nil());
  EXPECT_TRUE(callv("string->int", {str("12345678901")}).is_nil());
  Value low = callv("string->int", {str("-2147483648")});
  ASSERT_TRUE(low.is(Tag::Long));
  EXPECT_EQ(long_value(low), INT32_MIN);
  EXPECT_TRUE(callv("string->int", {str("8388607")}).is(Tag::Long));
  EXPECT_TRUE(callv("string->int", {str("8388606")}).is_fixnum());

  Value r = callv("string->real", {str("3.5")});
  ASSERT_TRUE(r.is(Tag::Real));
  EXPECT_EQ(real_value(r), 3.5);
  EXPECT_TRUE(callv("string->real", {str("3,5")}).is_nil());
  EXPECT_EQ(real_value(callv("string->real", {str("12e")})), 12.0);
  EXPECT_EQ(real_value(callv("string->real", {str("-1.5e+2")})), -150.0);
  EXPECT_EQ(real_value(callv("string->real", {str("12345678901")})), 12345678901.0);
  EXPECT_TRUE(callv("string->real", {str(".")}).is_nil());
  EXPECT_TRUE(callv("string->real", {str("1.5.3")}).is_nil());
  EXPECT_TRUE(callv("string->real", {str("e5")}).is_nil());
  EXPECT_TRUE(callv("string->real", {str("1e5x")}).is_nil());
  data::data_state().decimal_mark = ',';
  EXPECT_EQ(real_value(callv("string->real", {str("3,5")})), 3.5);
  EXPECT_TRUE(callv("string->real", {str("3.5")}).is_nil());
}

}  // namespace
}  // namespace core::testing
