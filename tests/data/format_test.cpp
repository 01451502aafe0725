#include "data/format.hpp"

#include "data/strings.hpp"
#include "data/state.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class Format : public NativeCallTest {
 protected:
  // (format t control args...) as text.
  std::string fmt(const char* control, std::initializer_list<Value> args = {}) {
    std::vector<Value> all = {t(), str(control)};
    all.insert(all.end(), args.begin(), args.end());
    return call_with(all);
  }
  std::string call_with(const std::vector<Value>& all) {
    Value f = symbol_value(find_symbol("format"));
    StackMark mark;
    Value* base = rt().zones.sp;
    for (size_t i = all.size(); i-- > 0;) push(all[i]);
    push(kEndArgs);
    push(kEndArgs);
    Value v = native_function(f)(base);
    EXPECT_TRUE(v.is(Tag::String));
    return v.is(Tag::String) ? string_text(v) : "";
  }
  int fails(const char* control, std::initializer_list<Value> args = {}, std::string* culprit = nullptr) {
    return error_in([&] { fmt(control, args); }, culprit);
  }
};

TEST_F(Format, RegisteredWithReversedRest) {
  EXPECT_EQ(native_code(symbol_value(find_symbol("format"))), 0xC00000u);
}

TEST_F(Format, PlainTextAndPlurals) {
  EXPECT_EQ(fmt("~a has ~a item~p", {sym("box"), fix(2), fix(2)}), "box has 2 items");
  EXPECT_EQ(fmt("~a has ~a item~p", {sym("box"), fix(1), fix(1)}), "box has 1 item");
  EXPECT_EQ(fmt("~a has ~a item~p", {sym("box"), fix(0), fix(0)}), "box has 0 item");
  EXPECT_EQ(fmt("~a item~:p", {fix(3)}), "3 items");
  EXPECT_EQ(fmt("~a item~:p", {fix(1)}), "1 item");
  EXPECT_EQ(fmt("plain"), "plain");
  EXPECT_EQ(call_with({t(), sym("sym-control")}), "sym-control");
}

TEST_F(Format, FillingToAWidth) {
  EXPECT_EQ(fmt("~5a|", {sym("ab")}), "ab   |");
  EXPECT_EQ(fmt("~5@a|", {sym("ab")}), "   ab|");
  EXPECT_EQ(fmt("~5,,,'*a", {sym("ab")}), "ab***");
  EXPECT_EQ(fmt("~1a|", {sym("abc")}), "abc|");
  EXPECT_EQ(fmt("~v@a|", {fix(4), fix(7)}), "   7|");
  EXPECT_EQ(fmt("~x", {fix(255)}), "FF");
  EXPECT_EQ(fmt("~x", {fix(-1)}), "FFFFFFFF");
  EXPECT_EQ(fmt("~4,,,'0@x", {fix(255)}), "00FF");
}

TEST_F(Format, Reals) {
  EXPECT_EQ(fmt("~,2f", {make_real(3.14159)}), "3.14");
  EXPECT_EQ(fmt("~.2f", {make_real(3.14159)}), ".2f");
  EXPECT_EQ(fmt("~f", {make_real(0.5)}), "0.5");
  EXPECT_EQ(fmt("~f", {fix(3)}), "3");
  EXPECT_EQ(fmt("~f", {make_real(1e20)}), "1e+20");
  EXPECT_EQ(fmt("~10,3f|", {make_real(2.0)}), "2.000|");
  EXPECT_EQ(fmt("~10f|", {make_real(2.5)}), "2.5|");
  data::data_state().decimal_mark = ',';
  EXPECT_EQ(fmt("~,1f~.", {make_real(1.25)}), "1.2,");
  EXPECT_EQ(fails("~f", {str("x")}), 2);
  // Parameters given by arguments are checked before they reach the
  // conversion.
  EXPECT_EQ(fails("~,vf", {fix(-3), make_real(1.0)}), 2);
  EXPECT_EQ(fails("~vf", {fix(-8388607), make_real(1.0)}), 2);
  EXPECT_EQ(fmt("~v,2f|", {fix(-6), make_real(1.0)}), "1.00|");
}

TEST_F(Format, CharactersLineEndsAndTabs) {
  EXPECT_EQ(fmt("~3%"), "\r\r\r");
  EXPECT_EQ(fmt("~%"), "\r");
  EXPECT_EQ(fmt("~2t|"), "\t\t|");
  EXPECT_EQ(fmt("~3c", {fix('A')}), "AAA");
  EXPECT_EQ(fmt("~c", {fix(256 + 'B')}), "B");
  EXPECT_EQ(fmt("~'xc", {fix('A')}), std::string(120, 'A'));
}

TEST_F(Format, Conditionals) {
  EXPECT_EQ(fmt("~:[no~;yes~]", {kNil}), "no");
  EXPECT_EQ(fmt("~:[no~;yes~]", {t()}), "yes");
  EXPECT_EQ(fmt("~[zero~;one~:;many~]", {fix(5)}), "many");
  EXPECT_EQ(fmt("~[zero~;one~:;many~]", {fix(1)}), "one");
  EXPECT_EQ(fmt("~[zero~;one~:;many~]!", {fix(0)}), "zero!");
  EXPECT_EQ(fails("~[zero~;one~]", {fix(3)}), 2);
  EXPECT_EQ(fmt("~1[a~;b~;c~]", {}), "b");
  EXPECT_EQ(fmt("<~@[got ~a~]>", {fix(7)}), "<got 7>");
  EXPECT_EQ(fmt("<~@[got ~a~]>~a", {kNil, fix(8)}), "<>8");
  EXPECT_EQ(fails("~[a~[b~]~]", {fix(0)}), 2);
  EXPECT_EQ(fails("a~;b"), 2);
  EXPECT_EQ(fails("a~]"), 2);
  EXPECT_EQ(fails("~:[a~]", {t()}), 2);
  EXPECT_EQ(fails("~[a~;b", {fix(0)}), 2);
  EXPECT_EQ(fails("~@[a", {kNil}), 2);
}

TEST_F(Format, MovingTheCursor) {
  EXPECT_EQ(fmt("~a ~:*~a", {sym("x")}), "x x");
  EXPECT_EQ(fmt("~*~a", {fix(1), fix(2)}), "2");
  EXPECT_EQ(fmt("~a~a~@*~a", {fix(1), fix(2)}), "121");
  EXPECT_EQ(fmt("~1@*~a", {fix(1), fix(2)}), "2");
  EXPECT_EQ(fmt("~#a|", {fix(1), fix(2)}), "1 |");
  EXPECT_EQ(fails("~2:*", {fix(1)}), 2);
  EXPECT_EQ(fails("~3*", {fix(1)}), 2);
}

TEST_F(Format, StyledOutput) {
  EXPECT_EQ(fmt("~w", {str("a\"b")}), "\"a\\\"b\"");
  EXPECT_EQ(fmt("~y", {list({str("s"), sym("x")})}), "(\"s\" x)");
  EXPECT_EQ(fmt("~y", {intern_static("a b")}), "a\\ b");
  EXPECT_EQ(fmt("~y", {intern_static(":k")}), ":k");
  EXPECT_EQ(fmt("~a", {str("a\"b")}), "a\"b");
  EXPECT_EQ(fails("~w", {callv("vector", {fix(1)})}), 2);
}

TEST_F(Format, StringResources) {
  rt().string_resource = [](int32_t id, int32_t index, std::string& out) {
    if (id != 128) return false;
    if (index == 0) out = "single";
    else if (index <= 2) out = index == 1 ? "first" : "second";
    else return false;
    return true;
  };
  EXPECT_EQ(fmt("~i|~:i|~:i|~8i|", {fix(128), fix(128), fix(2), fix(128), fix(9), fix(128)}),
            "single|second||single  |");
  EXPECT_EQ(fmt("~i|", {fix(5)}), "|");
  rt().string_resource = nullptr;
  EXPECT_EQ(fmt("~i|", {fix(128)}), "|");
}

TEST_F(Format, BadDirectivesAndMissingArguments) {
  std::string culprit;
  EXPECT_EQ(fails("~~", {}, &culprit), 2);
  EXPECT_EQ(culprit, "()");
  EXPECT_EQ(fails("~d", {fix(1)}), 2);
  EXPECT_EQ(fails("~A", {fix(1)}), 2);
  EXPECT_EQ(fails("trailing ~"), 2);
  EXPECT_EQ(fails("~a ~a", {fix(1)}, &culprit), 2);
  EXPECT_EQ(culprit, "()");
  EXPECT_EQ(fails("~va", {}), 2);
  EXPECT_EQ(fails("~5.a", {fix(1)}, &culprit), 2);
  EXPECT_EQ(culprit, "46");
  EXPECT_EQ(fails("~1,2,3,4,5,6,7,8a", {fix(1)}), 2);
  EXPECT_EQ(fails("~99999999999a", {fix(1)}), 2);
  EXPECT_EQ(error_in([&] { call_with({t()}); }, &culprit), 2);
  EXPECT_EQ(error_in([&] { call_with({}); }, &culprit), 2);
  // The string result is limited to the largest string.
  EXPECT_EQ(fails("~70000c", {fix('x')}), 2);
  EXPECT_EQ(fmt("~65534c", {fix('x')}).size(), 65534u);
}

TEST_F(Format, OtherStreamsReceiveTheTextAndGiveT) {
  ::testing::internal::CaptureStdout();
  Value f = symbol_value(find_symbol("format"));
  StackMark mark;
  Value* base = rt().zones.sp;
  push(fix(42));
  push(str("n=~a~%"));
  push(kNil);
  push(kEndArgs);
  push(kEndArgs);
  EXPECT_EQ(native_function(f)(base), t());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "n=42\n");  // standard output passes the console boundary
}

TEST_F(Format, NestedCallsKeepTheirOwnState) {
  std::string inner;
  Value end[] = {fix(2), kEndArgs};
  data::format_text(inner, "[~a]", end);
  EXPECT_EQ(inner, "[2]");
  EXPECT_EQ(fmt("~a~a", {fix(1), data::new_string(inner)}), "1[2]");
}

}  // namespace
}  // namespace core::testing
