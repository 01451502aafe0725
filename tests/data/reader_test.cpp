// The reader and the printer together: round trips, encoded tokens, and the
// bounds that keep malformed or hostile text from crashing the machine.
#include <string>
#include <vector>

#include "core/eval.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"
#include "tests/core/fixture.hpp"

namespace {
using namespace core;
using core::testing::MachineTest;

class ReaderTest : public MachineTest {
 protected:
  // The data of a text, as a list, read as parse reads a string.
  Value parse(const std::string& text) {
    Addr a = rt().region.allocate(uint32_t(text.size() + 1));
    std::memcpy(rt().region.ptr(a), text.data(), text.size());
    data::InputGuard guard;
    data::set_memory_input(a, uint32_t(text.size()));
    Value v = data::read_list(data::kSignalClose, true);
    rt().region.release(a);
    return v;
  }
  // The text of each datum in display style, separated by blanks.
  std::string display_all(Value list) {
    std::string out;
    data::OutputGuard guard;
    data::set_text_output(&out, 1u << 20);
    for (bool first = true; list.is_pair(); list = cdr(list), first = false) {
      if (!first) data::put_char(' ');
      data::print_value(car(list), data::Style::Display);
    }
    return out;
  }
  std::string round_trip(const std::string& text) { return display_all(parse(text)); }
  // The datum read from bytes that may contain control codes.
  Value read_bytes(const std::vector<uint8_t>& bytes) {
    Addr a = rt().region.allocate(uint32_t(bytes.size()));
    std::memcpy(rt().region.ptr(a), bytes.data(), bytes.size());
    data::InputGuard guard;
    data::set_memory_input(a, uint32_t(bytes.size()));
    Value v = data::read_datum();
    rt().region.release(a);
    return v;
  }
};

TEST_F(ReaderTest, PrintingWhatWasReadGivesTheTextBack) {
  const char* corpus[] = {
      "a", "foo-bar", "set-car!", "null?", "list->vector", "a.b", "+", "-", "1+", "a...",
      "0", "-1", "8388606", "-8388607", "8388607", "-8388608", "2147483647", "-2147483648",
      "1.5", "-0.25", "100.0", "1e+20", "3.14159265358979", "0.001",
      "\"\"", "\"abc\"", "\"a\\\"b\"", "\"back\\\\slash\"",
      "()", "(a)", "(a b c)", "(a . b)", "(a b . c)", "((a) (b (c)))", "(1 \"x\" (y . 2.5))",
      "_x", "_long-name", ":key", "(_a :b c)", "a\\ b", "\\_x", "\\(", "#(1 2 3)", "#()",
      "(quote x)", "#(a (b) c)",
  };
  for (const char* text : corpus) EXPECT_EQ(round_trip(text), text) << text;
}

TEST_F(ReaderTest, RealsRoundTripWithEitherDecimalMark) {
  data::data_state().decimal_mark = ',';
  EXPECT_EQ(round_trip("1,5 -0,25 100,0 3,0"), "1,5 -0,25 100,0 3,0");
  // With a comma as the mark a period is a dot signal again.
  EXPECT_EQ(round_trip("(1.5)"), "(1 . 5)");
  data::data_state().decimal_mark = '.';
  EXPECT_EQ(round_trip("1.5 -0.25"), "1.5 -0.25");
}

TEST_F(ReaderTest, NumberSyntaxAtTheFixnumAndLongBoundaries) {
  Value l = parse("8388606 8388607 -8388607 -8388608 2147483648 1-2 -5 +5");
  EXPECT_TRUE(car(l).is_fixnum());
  EXPECT_TRUE(car(cdr(l)).is(Tag::Long));
  EXPECT_TRUE(car(cdr(cdr(l))).is_fixnum());
  EXPECT_TRUE(car(cdr(cdr(cdr(l)))).is(Tag::Long));
  EXPECT_TRUE(car(cdr(cdr(cdr(cdr(l))))).is(Tag::Real));
  Value rest = cdr(cdr(cdr(cdr(cdr(l)))));
  EXPECT_TRUE(car(rest).is_symbol());
  EXPECT_EQ(car(cdr(rest)), make_fixnum(-5));
  EXPECT_TRUE(car(cdr(cdr(rest))).is_symbol());
}

TEST_F(ReaderTest, DeepNestingIsALispErrorNotACrash) {
  std::string text(100000, '(');
  EXPECT_EQ(error_of([&] { parse(text); }), int(Err::StackOverflow));
  std::string quotes(100000, '\'');
  EXPECT_EQ(error_of([&] { parse(quotes + "x"); }), int(Err::StackOverflow));
  // The machine is usable afterwards.
  EXPECT_EQ(round_trip("(a (b))"), "(a (b))");
}

TEST_F(ReaderTest, UnfinishedFormsAtTheEndAreError25) {
  EXPECT_EQ(error_of([&] { parse("(a (b"); }), 25);
  EXPECT_EQ(error_of([&] { parse("\"open"); }), 25);
  EXPECT_EQ(error_of([&] { parse("'"); }), 25);
  EXPECT_EQ(error_of([&] { parse("#"); }), 25);
  EXPECT_EQ(error_of([&] { parse("#\\"); }), 25);
  EXPECT_EQ(error_of([&] { parse("(a ."); }), 25);
  EXPECT_EQ(round_trip("a ; open comment"), "a");
}

TEST_F(ReaderTest, EncodedTokensNeedAnInstalledTable) {
  // Without a table no control byte names a symbol.
  EXPECT_EQ(error_of([&] { read_bytes({0}); }), 2);
  EXPECT_EQ(rt().last_error.culprit, make_fixnum(0));
  EXPECT_EQ(error_of([&] { read_bytes({15, 0}); }), 2);
  // Small integers need no table.
  EXPECT_EQ(read_bytes({11, 255}), make_fixnum(-1));
  EXPECT_EQ(read_bytes({12, 128, 0}), make_fixnum(-32768));
  EXPECT_EQ(read_bytes({12, 0x7F, 0xFF}), make_fixnum(32767));

  std::vector<Value> names;
  for (int i = 0; i < 300; ++i) names.push_back(intern_copy("name" + std::to_string(i)));
  names[1] = intern_static(":size");
  data::install_symbols_table(names);
  EXPECT_EQ(read_bytes({1}), intern_static("quote"));
  EXPECT_EQ(read_bytes({15, 0}), names[0]);
  EXPECT_EQ(read_bytes({8, 1, 0}), names[256 - 8]);
  Value var = read_bytes({14, 0, 9});
  EXPECT_TRUE(var.is(Tag::Variable));
  EXPECT_EQ(cdr(var), names[1]);
  EXPECT_EQ(symbol_value(names[1]), names[1]);  // a keyword evaluates to itself
  // Entries past the end of the table, and truncated tokens.
  EXPECT_EQ(error_of([&] { read_bytes({31, 255}); }), 2);
  EXPECT_EQ(rt().last_error.culprit, make_fixnum(4359));
  EXPECT_EQ(error_of([&] { read_bytes({8, 1}); }), 25);
  // The byte after a token is the next lookahead: a list of two tokens.
  Value l = car(parse(std::string("(\x0f\x02\x0b\x05)", 6)));
  EXPECT_EQ(car(l), names[2]);
  EXPECT_EQ(car(cdr(l)), make_fixnum(5));
  data::remove_symbols_table();
  EXPECT_EQ(error_of([&] { read_bytes({3}); }), 2);
}

TEST_F(ReaderTest, NestedReadsRestoreTheOuterSource) {
  Value outer = make_string("first second");
  data::InputGuard guard;
  data::set_string_input(outer);
  data::fetch();
  Value a = data::read_token();
  EXPECT_EQ(a, intern_static("first"));
  // A nested parse reads another text and leaves this one where it was.
  data::parse_string(make_string("x y z"));
  Value b = data::read_token();
  EXPECT_EQ(b, intern_static("second"));
}

class PrinterTest : public ReaderTest {
 protected:
  MemoryPrefs prefs() override {
    MemoryPrefs p = core::testing::small_prefs();
    p.nodes = 300000;
    return p;
  }
  uint32_t preferred() override { return 32u << 20; }
};

TEST_F(PrinterTest, CircularListsPrintBounded) {
  Value l = car(parse("(a b c)"));
  set_cdr(cdr(cdr(l)), l);
  std::string text = data::print_to_text(l);
  EXPECT_EQ(text.substr(0, 7), "(a b c ");
  EXPECT_EQ(text.substr(text.size() - 4), "...)");
  EXPECT_LT(text.size(), 64u);
  // Printing to a text buffer stops at 1024 characters even for a car cycle.
  Value m = car(parse("(x)"));
  set_car(m, m);
  EXPECT_EQ(error_of([&] { data::print_to_text(m); }), -1);
  EXPECT_LE(data::print_to_text(m).size(), 1024u);
}

TEST_F(PrinterTest, DeepStructureIsALispError) {
  Value v = kNil;
  {
    StressPause pause;
    for (int i = 0; i < 200000; ++i) v = cons(v, kNil);
  }
  std::string out;
  EXPECT_EQ(error_of([&] {
              data::OutputGuard guard;
              data::set_text_output(&out, 1u << 30);
              data::print_value(v, data::Style::Display);
            }),
            int(Err::StackOverflow));
}

TEST_F(PrinterTest, ValueTextOfEveryKind) {
  EXPECT_EQ(data::value_text(make_fixnum(-8388607)), "-8388607");
  EXPECT_EQ(data::value_text(make_integer(INT32_MIN)), "-2147483648");
  EXPECT_EQ(data::value_text(make_real(3.0)), "3.0");
  EXPECT_EQ(data::value_text(make_real(0.5)), "0.5");
  EXPECT_EQ(data::value_text(make_string("a\"b")), "a\"b");
  EXPECT_EQ(data::value_text(intern_static("a b")), "a b");
  EXPECT_EQ(data::value_text(kNil), "()");
  EXPECT_EQ(data::value_text(kNoValue), "<no-value>");
  EXPECT_EQ(data::value_text(kNoObject), "#<class TALVEN>");
  EXPECT_EQ(data::value_text(data::signal_word(2)), "2");
  EXPECT_EQ(data::value_text(symbol_value(intern_static("+"))), "#<primitive 0 *>");
  EXPECT_EQ(data::value_text(make_native(nullptr, 0x800001, Tag::Primitive)), "#<primitive 1 *>");
  EXPECT_EQ(data::value_text(make_native(nullptr, 0x200002, Tag::Primitive)), "#<primitive 2>");
  EXPECT_EQ(data::value_text(box_address(0, 2)), "<null handle>");
  EXPECT_EQ(data::value_text(box_address(0x1234, 7)), "<text 1234>");
  EXPECT_EQ(data::value_string(intern_static("abc")), symbol_name(intern_static("abc")));
  Value s = make_string("same");
  EXPECT_EQ(data::value_string(s), s);
  std::string long_text(3000, 'x');
  EXPECT_EQ(data::print_to_text(make_string(long_text.c_str())).size(), 1024u);
}

TEST_F(PrinterTest, WriteStyleRefusesUnreadableData) {
  std::string out;
  data::OutputGuard guard;
  data::set_text_output(&out, 1024);
  EXPECT_EQ(error_of([&] { data::print_value(parse("(1 #(2))"), data::Style::Write); }), 2);
  EXPECT_EQ(out, "((1 ");
  out.clear();
  data::print_value(parse("(1 \"a\" _v 2.5)"), data::Style::Write);
  EXPECT_EQ(out, "((1 \"a\" _v 2.5))");
}

}  // namespace
