#include <string>

#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

class Symbols : public MachineTest {
  // An odd table size, so that short names spread over every slot.
  MemoryPrefs prefs() override {
    MemoryPrefs p = small_prefs();
    p.symbol_slots = 4093;
    return p;
  }
};

TEST_F(Symbols, InterningKeepsABoundValueAndFillsAnUnboundOne) {
  Value a = intern_copy("alpha", make_fixnum(1));
  EXPECT_EQ(intern_copy("alpha", make_fixnum(2)), a);
  EXPECT_EQ(symbol_value(a), make_fixnum(1));
  Value b = intern_static("beta");
  EXPECT_TRUE(symbol_value(b).is_no_value());
  EXPECT_EQ(intern_copy("beta", make_fixnum(3)), b);
  EXPECT_EQ(symbol_value(b), make_fixnum(3));
  EXPECT_STREQ(symbol_text(a), "alpha");
  // Names compare case-sensitively.
  EXPECT_NE(intern_static("Alpha"), a);
}

TEST_F(Symbols, RecordsStartEmptyAndNamesArePermanent) {
  Value s = intern_copy("gamma-ray");
  SymbolRecord& r = record(s);
  EXPECT_EQ(r.owner, 0u);
  EXPECT_EQ(r.slot, 0xFFFF);
  EXPECT_EQ(r.twin, -1);
  EXPECT_TRUE(node_of(Value(r.name)).car & kPermanentBit);
  Value st = intern_static("static-name");
  EXPECT_EQ(node_of(symbol_name(st)).car, 0x5E000000u);
  EXPECT_EQ(s.payload() % 16, 0u);
}

TEST_F(Symbols, HashIsDoubleAndAdd) {
  EXPECT_EQ(symbol_hash(""), 0u);
  EXPECT_EQ(symbol_hash("a"), 97u);
  EXPECT_EQ(symbol_hash("ab"), 2 * 97u + 98);
  EXPECT_EQ(symbol_hash("\xff"), 255u);
  // Wraps in 32 bits.
  std::string longname(40, 'z');
  uint32_t h = 0;
  for (char c : longname) h = 2 * h + uint8_t(c);
  EXPECT_EQ(symbol_hash(longname), h);
}

TEST_F(Symbols, CollisionsProbeLinearlyAndWrap) {
  uint32_t n = rt().zones.symbol_slots;
  // Two names whose hash is 8185, which is slot 4092, the last one.
  std::vector<std::string> names = {"\xFA\x08\x05\x03\x02\x01", "\xFA\x08\x05\x03\x01\x03"};
  ASSERT_EQ(n, 4093u);
  ASSERT_EQ(symbol_hash(names[0]) % n, n - 1);
  ASSERT_EQ(symbol_hash(names[1]) % n, n - 1);
  // Occupy the last slot unless it already is.
  Value first = intern_copy(names[0]);
  Value second = intern_copy(names[1]);
  EXPECT_NE(first, second);
  EXPECT_EQ(find_symbol(names[1]), second);
  EXPECT_EQ(find_symbol(names[0]), first);
  EXPECT_EQ(symbol_index(first), n - 1);
  // The second probed past the end of the table to its start.
  EXPECT_LT(symbol_index(second), 64u);
}

TEST_F(Symbols, FindNeverCreates) {
  uint32_t free = rt().zones.free_symbols;
  EXPECT_EQ(find_symbol("never-read-anywhere"), kNil);
  EXPECT_EQ(rt().zones.free_symbols, free);
  EXPECT_EQ(call("find-symbol", make_string("never-read-anywhere")), kNil);
  EXPECT_EQ(call("find-symbol", make_string("eq?")), find_symbol("eq?"));
}

TEST_F(Symbols, KeywordsEvaluateToThemselves) {
  Value k = make_keyword("size");
  EXPECT_STREQ(symbol_text(k), ":size");
  EXPECT_EQ(symbol_value(k), k);
  EXPECT_TRUE(is_keyword(k));
  EXPECT_EQ(make_keyword("size"), k);
  EXPECT_EQ(symbol_value(rt().sym.message_kw), rt().sym.message_kw);
}

TEST_F(Symbols, FirstRegistrationWins) {
  Value before = symbol_value(find_symbol("eq?"));
  uint32_t dups = rt().duplicate_registrations;
  const NativeRow rows[] = {{"eq?", nullptr, 0, Tag::Primitive}};
  register_natives(rows);
  EXPECT_EQ(symbol_value(find_symbol("eq?")), before);
  EXPECT_EQ(rt().duplicate_registrations, dups + 1);
  // The start-up tables themselves register no name twice.
  EXPECT_EQ(dups, 0u);
}

TEST_F(Symbols, NativesCarryTheirArityCode) {
  Value eq = symbol_value(find_symbol("eq?"));
  EXPECT_TRUE(eq.is(Tag::Primitive));
  EXPECT_EQ(node_of(eq).car, 0x58000002u);
  Value space = symbol_value(find_symbol("space-subr"));
  EXPECT_EQ(native_code(space), 0x200000u);
}

TEST_F(Symbols, SymbolPrimitives) {
  Value s = intern_static("some-var");
  EXPECT_EQ(call("bound?", s), kNil);
  EXPECT_EQ(call("unbound?", s), rt().sym.t);
  EXPECT_EQ(error_of([&] { call("symbol->value", s); }), 6);
  EXPECT_EQ(rt().last_error.culprit, s);
  EXPECT_EQ(call("set", s, make_fixnum(4)), make_fixnum(4));
  EXPECT_EQ(call("symbol->value", s), make_fixnum(4));
  EXPECT_EQ(call("bound?", s), rt().sym.t);
  EXPECT_EQ(error_of([&] { call("bound?", make_fixnum(1)); }), 2);
}

class FullTable : public MachineTest {
  MemoryPrefs prefs() override {
    MemoryPrefs p = small_prefs();
    // Room for every module's names, with some left to fill.
    p.symbol_slots = 2048;
    return p;
  }
};

TEST_F(FullTable, TheLastSlotIsAnErrorNotAnEndlessProbe) {
  int e = -1;
  int made = 0;
  for (int i = 0; i < 5000 && e == -1; ++i) {
    e = error_of([&] { intern_copy("s" + std::to_string(i)); });
    if (e == -1) ++made;
  }
  EXPECT_EQ(e, 62);
  EXPECT_EQ(rt().zones.free_symbols, 1u);
  // Existing names are still found, and find of a new one ends.
  EXPECT_EQ(find_symbol("never-made"), kNil);
  EXPECT_EQ(intern_copy("s0"), find_symbol("s0"));
}

}  // namespace
}  // namespace core::testing
