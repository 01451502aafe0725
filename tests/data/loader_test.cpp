// The code loader: byte tokens at their boundaries read through a load, the
// dropped character between top-level data, nested loads, the symbols table
// a load keeps, and what an error leaves behind.
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/frames.hpp"
#include "data/encoded.hpp"
#include "data/handles.hpp"
#include "data/loader.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"
#include "tests/core/fixture.hpp"

namespace {
using namespace core;
using core::testing::MachineTest;
using namespace std::string_literals;

// What the probe primitive saw when a loaded form called it.
struct Seen {
  int depth = -1;
  Value object = kNil;
  Value load_file = kNil;
  uint32_t locks = 0;
};
Seen g_seen;
uint32_t g_watched = 0;

Value probe(Value*) {
  g_seen.depth = rt().dispatch_depth;
  g_seen.object = rt().current_object;
  g_seen.load_file = symbol_value(intern_static("Load-File"));
  if (auto* e = data::data_state().handles.find(g_watched)) g_seen.locks = e->locks;
  return kNoValue;
}

class LoaderTest : public MachineTest {
 protected:
  MemoryPrefs prefs() override {
    MemoryPrefs p = core::testing::small_prefs();
    p.symbol_slots = 16384;
    return p;
  }
  void SetUp() override {
    MachineTest::SetUp();
    register_native("probe", probe, 0, Tag::Primitive);
    g_seen = Seen{};
  }
  uint32_t handle_of(const std::string& bytes) {
    uint32_t h = data::new_handle(uint32_t(bytes.size()));
    if (!bytes.empty()) std::memcpy(rt().region.ptr(data::handle_memory(h)), bytes.data(), bytes.size());
    return h;
  }
  // Loads bytes through a handle with the file value 3; the handle is
  // disposed of afterwards.
  void load(const std::string& bytes, Value file = make_fixnum(3)) {
    uint32_t h = handle_of(bytes);
    g_watched = h;
    try {
      data::load_from_handle(h, file);
    } catch (...) {
      data::dispose_handle(h);
      throw;
    }
    data::dispose_handle(h);
  }
  Value value(const char* name) { return symbol_value(intern_static(name)); }
  std::string text(Value v) {
    std::string out;
    data::OutputGuard guard;
    data::set_text_output(&out, 1u << 16);
    data::print_value(v, data::Style::Plain);
    return out;
  }
  std::vector<Value> table(const std::vector<std::string>& names) {
    std::vector<Value> v;
    for (const std::string& n : names) v.push_back(intern_copy(n));
    return v;
  }
  uint32_t table_handle(const std::vector<std::string>& names) {
    data::SymbolNames t;
    for (const std::string& n : names) t.add(n);
    std::vector<uint8_t> r = t.resource();
    return handle_of(std::string(r.begin(), r.end()));
  }
};

TEST_F(LoaderTest, ByteTokensAtTheirBoundaries) {
  // 4352 names fill the two-byte entries 8 to 4359; one more needs three.
  std::vector<std::string> names;
  for (int i = 0; i < 4400; ++i) names.push_back("n" + std::to_string(i));
  names[0] = ":size";
  data::install_symbols_table(table(names));
  auto datum = [&](std::initializer_list<int> bytes) {
    std::string s = "(define got '";
    for (int b : bytes) s.push_back(char(b));
    s += ")";
    load(s);
    return value("got");
  };
  EXPECT_EQ(datum({0}), intern_static("define"));
  EXPECT_EQ(datum({7}), intern_static("let"));
  EXPECT_EQ(datum({15, 0}), intern_static(":size"));
  EXPECT_EQ(datum({15, 255}), intern_static("n255"));
  EXPECT_EQ(datum({16, 0}), intern_static("n256"));
  EXPECT_EQ(datum({31, 255}), intern_static("n4351"));
  EXPECT_EQ(datum({8, 1, 0}), intern_static("n248"));
  EXPECT_EQ(datum({8, 0, 3}), intern_static("t"));
  EXPECT_EQ(datum({8, 0x11, 0x10}), intern_static("n4360"));
  EXPECT_EQ(datum({11, 255}), make_fixnum(-1));
  EXPECT_EQ(datum({11, 127}), make_fixnum(127));
  EXPECT_EQ(datum({11, 128}), make_fixnum(-128));
  EXPECT_EQ(datum({12, 128, 0}), make_fixnum(-32768));
  EXPECT_EQ(datum({12, 127, 255}), make_fixnum(32767));
  EXPECT_EQ(datum({12, 0, 0}), make_fixnum(0));
  Value var = datum({14, 0, 8});
  EXPECT_TRUE(var.is(Tag::Variable));
  EXPECT_EQ(cdr(var), intern_static(":size"));
  // A keyword of the table evaluates to itself.
  load("(define got \x0f\x00)"s);
  EXPECT_EQ(value("got"), intern_static(":size"));
  // The bytes after a token byte are taken whatever they are: 40 and 41
  // are parentheses in text.
  EXPECT_EQ(datum({8, 0, 40}), intern_static("n32"));
  EXPECT_EQ(datum({12, 0, 41}), make_fixnum(41));

  // Beyond the table, and a token cut short by the end of the text.
  EXPECT_EQ(error_of([&] { load(std::string("(a \x08\xff\xff)")); }), 2);
  EXPECT_EQ(error_of([&] { load("\x08\x01"s); }), 25);
  EXPECT_EQ(error_of([&] { load("\x0c\x01"s); }), 25);
  EXPECT_EQ(error_of([&] { load("\x0b"s); }), 25);
  data::remove_symbols_table();
  EXPECT_EQ(error_of([&] { load(std::string("\x03 ")); }), 2);
  EXPECT_EQ(error_of([&] { load("\x0e\x00\x03"s); }), 2);
}

TEST_F(LoaderTest, TopLevelDataAndTheDroppedCharacter) {
  load("(define a 1)(define b 2)");
  EXPECT_EQ(value("a"), make_fixnum(1));
  EXPECT_EQ(value("b"), make_fixnum(2));
  // x(f): x is read, the parenthesis is dropped, f is read, the closing
  // parenthesis is dropped and the load ends. Both are evaluated.
  EXPECT_EQ(error_of([&] { load("x(f)"); }), int(Err::Unbound));
  EXPECT_EQ(rt().last_error.culprit, intern_static("x"));
  load("(define x 1)");
  EXPECT_EQ(error_of([&] { load("x(f)"); }), int(Err::Unbound));
  EXPECT_EQ(rt().last_error.culprit, intern_static("f"));
  load("(define f 2)");
  EXPECT_EQ(error_of([&] { load("x(f)"); }), -1);
  // A closing parenthesis where a datum starts.
  EXPECT_EQ(error_of([&] { load("(define c 3) )"); }), 25);
  EXPECT_EQ(value("c"), make_fixnum(3));
  // Trailing blanks, line ends and comments; an empty text.
  EXPECT_EQ(error_of([&] { load("(define d 4)  \r\n\t; done\r\n  "); }), -1);
  EXPECT_EQ(value("d"), make_fixnum(4));
  EXPECT_EQ(error_of([&] { load(""); }), -1);
}

TEST_F(LoaderTest, TheLoadSetsItsStateAndRestoresItOnEveryExit) {
  Value file_sym = intern_static("Load-File");
  set_symbol_value(file_sym, intern_static("outer"));
  rt().dispatch_depth = 0;
  load("(probe)");
  EXPECT_EQ(g_seen.depth, 1);
  EXPECT_EQ(g_seen.object, kNoObject);
  EXPECT_EQ(g_seen.load_file, make_fixnum(3));
  EXPECT_EQ(g_seen.locks, 1u);
  EXPECT_EQ(symbol_value(file_sym), intern_static("outer"));
  EXPECT_EQ(rt().dispatch_depth, 0);

  // {foo bar} records where the braced text lies in the loaded text.
  load("(define r '{foo bar})");
  EXPECT_EQ(text(value("r")), "(foo 3 12 . 19)");

  // An error leaves the load with everything restored.
  uint32_t h = handle_of("(probe) (car 5) (define never 1)");
  g_watched = h;
  {
    SelfFrame inside(intern_static("some-object"));
    EXPECT_EQ(error_of([&] { data::load_from_handle(h, make_fixnum(7)); }), 2);
    EXPECT_EQ(rt().current_object, intern_static("some-object"));
  }
  EXPECT_EQ(g_seen.locks, 1u);
  EXPECT_EQ(data::data_state().handles.find(h)->locks, 0u);
  EXPECT_EQ(symbol_value(file_sym), intern_static("outer"));
  EXPECT_EQ(rt().dispatch_depth, 0);
  EXPECT_EQ(value("never"), kNoValue);
  data::dispose_handle(h);
}

TEST_F(LoaderTest, NestedLoadsRestoreTheSourceAndTheTable) {
  // The inner text sits in a handle that the outer text loads.
  uint32_t inner = handle_of("(define inner-file Load-File) (define from-inner 'yes)");
  Value box = data::box_handle(inner);
  set_symbol_value(intern_static("inner"), box);
  load("(define before 1) (load-from-handle inner 9) (define after Load-File)");
  EXPECT_EQ(value("before"), make_fixnum(1));
  EXPECT_EQ(value("from-inner"), intern_static("yes"));
  EXPECT_EQ(value("inner-file"), make_fixnum(9));
  EXPECT_EQ(value("after"), make_fixnum(3));

  // An encoded text that installs another table mid-way goes on decoding
  // with its own; the new table is in force once the load is over.
  data::install_symbols_table(table({"alpha", "beta"}));
  uint32_t t2 = table_handle({"gamma", "delta"});
  set_symbol_value(intern_static("t2"), data::box_handle(t2));
  load("(set-symbols-table t2)(define first '\x0f\x00)(define second '\x0f\x01)"s);
  EXPECT_EQ(value("first"), intern_static("alpha"));
  EXPECT_EQ(value("second"), intern_static("beta"));
  load("(define third '\x0f\x00)"s);
  EXPECT_EQ(value("third"), intern_static("gamma"));

  // A nested load decodes with the table installed when it begins, and the
  // outer load gets its own back.
  data::install_symbols_table(table({"alpha"}));
  uint32_t inner2 = handle_of("(define nested '\x0f\x00)"s);
  set_symbol_value(intern_static("inner2"), data::box_handle(inner2));
  load("(set-symbols-table t2)(load-from-handle inner2 1)(define outer '\x0f\x00)"s);
  EXPECT_EQ(value("nested"), intern_static("gamma"));
  EXPECT_EQ(value("outer"), intern_static("alpha"));
  data::remove_symbols_table();
  data::dispose_handle(inner);
  data::dispose_handle(inner2);
  data::dispose_handle(t2);
}

TEST_F(LoaderTest, AFormMayDisposeOfTheHandleBeingLoaded) {
  uint32_t h = handle_of("(dispose-handle self-handle) (define still 'read)");
  set_symbol_value(intern_static("self-handle"), data::box_handle(h));
  data::load_from_handle(h, kNil);
  EXPECT_EQ(value("still"), intern_static("read"));
  EXPECT_FALSE(data::handle_live(h));
}

TEST_F(LoaderTest, SymbolsTablesFromHandles) {
  uint32_t h = table_handle({":key", "plain", ""});
  Value box = data::box_handle(h);
  call("set-symbols-table", box);
  EXPECT_EQ(symbol_value(intern_static(":key")), intern_static(":key"));
  EXPECT_EQ(symbol_value(intern_static("plain")), kNoValue);
  load("(define k \x0f\x00)(define e '\x0f\x02)"s);
  EXPECT_EQ(value("k"), intern_static(":key"));
  EXPECT_EQ(value("e"), intern_static(""));
  // A handle that is not a resource stays the caller's.
  EXPECT_TRUE(data::handle_live(h));
  data::dispose_handle(h);

  // Truncated and corrupt tables are error 2 and keep the installed one.
  for (std::string bad : {"\x00"s, "\x00\x02" "a\x00"s, "\x00\x01" "abc"s,
                          "\xff\xff"s}) {
    uint32_t b = handle_of(bad);
    EXPECT_EQ(error_of([&] { call("set-symbols-table", data::box_handle(b)); }), 2) << bad.size();
    EXPECT_EQ(data::data_state().handles.find(b)->locks, 0u);
    data::dispose_handle(b);
  }
  load("(define still '\x0f\x01)"s);
  EXPECT_EQ(value("still"), intern_static("plain"));
  // An empty table; then none.
  uint32_t empty = handle_of("\x00\x00"s);
  call("set-symbols-table", data::box_handle(empty));
  EXPECT_EQ(error_of([&] { load("\x0f\x00 "s); }), 2);
  load("(define fixed '\x05)"s);
  EXPECT_EQ(value("fixed"), intern_static("defslot"));
  call("set-symbols-table", kNil);
  EXPECT_EQ(error_of([&] { load("\x05 "s); }), 2);
  // A handle without data cannot be locked; a non-handle is refused.
  uint32_t none = handle_of("");
  EXPECT_EQ(error_of([&] { call("set-symbols-table", data::box_handle(none)); }), 60);
  EXPECT_EQ(error_of([&] { call("set-symbols-table", make_fixnum(3)); }), 2);
  data::dispose_handle(empty);
  data::dispose_handle(none);
}

TEST_F(LoaderTest, SourceFilesMayDeclareUtf8) {
  data::load_source("; -*- coding: utf-8 -*-\n(define s \"caf\xc3\xa9 \xe2\x82\xac\")\n", "f.lsp");
  EXPECT_EQ(text(value("s")), "caf\xe9 \x80");
  // Without the declaration the bytes are code page 1252 already.
  data::load_source("(define s \"caf\xc3\xa9\")", "f.lsp");
  EXPECT_EQ(text(value("s")), "caf\xc3\xa9");
  // A character the code page lacks is an error naming the file and line.
  EXPECT_EQ(error_of([&] { data::load_source("; -*- coding: utf-8 -*-\n\n(define s \"\xe4\xb8\xad\")", "g.lsp"); }), 2);
  EXPECT_EQ(rt().last_error.culprit_text.find("g.lsp:3:") != std::string::npos, true) << rt().last_error.culprit_text;
  EXPECT_EQ(text(value("s")), "caf\xc3\xa9");
}

}  // namespace
