// The encoder and decoder: encoded texts read to the data of their source,
// decoded texts read to them again, the separators the loader needs, the
// token sizes at their limits, and the faults reported with their line.
#include <cstring>
#include <string>
#include <vector>

#include "data/encoded.hpp"
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

class EncodedTest : public MachineTest {
 protected:
  // Every datum of a text, read as the loader reads it (a fetch before each
  // step), printed in write style one per line.
  std::string data_of(const std::string& text) {
    Addr a = rt().region.allocate(uint32_t(text.size() + 1));
    std::memcpy(rt().region.ptr(a), text.data(), text.size());
    std::string out;
    {
      data::InputGuard guard;
      data::set_memory_input(a, uint32_t(text.size()));
      data::OutputGuard out_guard;
      data::set_text_output(&out, 1u << 20);
      while (data::data_state().in.pos < text.size()) {
        data::fetch();
        Value t = data::read_token();
        if (data::is_signal(t)) {
          // The loader ignores the end of the text after trailing blanks.
          if (t.payload() == data::kSignalEnd) continue;
          out += "<signal " + std::to_string(t.payload()) + ">\n";
          continue;
        }
        data::print_value(t, data::Style::Write);
        data::put_char('\n');
      }
    }
    rt().region.release(a);
    return out;
  }
  void install(const data::SymbolNames& t) {
    std::vector<Value> v;
    for (const std::string& n : t.names()) v.push_back(intern_copy(n));
    data::install_symbols_table(v);
  }
  // Encodes without the source's line ends unless asked.
  std::string encode(const std::string& source, data::SymbolNames& t, bool lines = false) {
    std::string code;
    data::CodecError err;
    data::EncodeOptions o;
    o.keep_lines = lines;
    EXPECT_TRUE(data::encode_source(source, t, code, err, o)) << err.line << ": " << err.message;
    return code;
  }
};

TEST_F(EncodedTest, EncodedAndDecodedTextsReadToTheSourceData) {
  const char* corpus[] = {
      "(define (f _x) (let ((_y 2)) (+ _x _y -1 300 -40000 8388607)))",
      "a b c 1 2 3 \"s\" \"\" #\\a #\\space #\\( x",
      "'x '(a . b) (a b . c) [a b) :key (send self :size)",
      "1.5 -0.25 1e5 12e +5 -5 - + e 1-2 1|5 a|b a.b .5",
      "\"a\\\"b\" \"multi\r\nline\" \"semi;colon\"",
      "a\\ b \\12 \\(x \\:k |x",
      "(when t nil) (set! v 3) (defslot s) (quote q)",
      "x;comment\r(y) ; another\r\nz",
      "#\\a1 #\\b#\\c x",
      "&(not foo) 1 &foo 2 3",
      "_ _1 __x",
      "(a\r\n)\r\n\r\n   ",
  };
  set_symbol_value(intern_static("Features"), cons(intern_static("foo"), kNil));
  for (const char* src : corpus) {
    SCOPED_TRACE(src);
    std::string source = src;
    std::string want = data_of(source);
    data::SymbolNames t;
    std::string code = encode(source, t);
    install(t);
    EXPECT_EQ(data_of(code), want);
    std::string decoded;
    data::CodecError err;
    ASSERT_TRUE(data::decode_code(code, t.names(), decoded, err)) << err.message;
    data::remove_symbols_table();
    EXPECT_EQ(data_of(decoded), want) << decoded;
  }
}

TEST_F(EncodedTest, TokensTakeTheFewestBytes) {
  data::SymbolNames t;
  for (int i = 0; i < 4400; ++i) t.add("n" + std::to_string(i));
  auto size_of = [&](const std::string& s) { return encode(s, t).size(); };
  EXPECT_EQ(encode("let", t), "\x07"s);
  EXPECT_EQ(encode("n0", t), "\x0f\x00"s);
  EXPECT_EQ(encode("n4351", t), "\x1f\xff"s);
  EXPECT_EQ(encode("n4352", t), "\x08\x11\x08"s);
  EXPECT_EQ(encode("_n0", t), "\x0e\x00\x08"s);
  EXPECT_EQ(encode(":k", t).size(), 3u);  // a new name: entry 4408
  EXPECT_EQ(encode("127", t), "\x0b\x7f"s);
  EXPECT_EQ(encode("-128", t), "\x0b\x80"s);
  EXPECT_EQ(size_of("128"), 3u);
  EXPECT_EQ(encode("-32768", t), "\x0c\x80\x00"s);
  EXPECT_EQ(encode("32768", t), "32768");
  EXPECT_EQ(encode("1.0", t), "1.0");
  // Inside lists tokens need no separators; text atoms next to each other do.
  EXPECT_EQ(encode("(let (1 2))", t), "(\x07(\x0b\x01\x0b\x02))"s);
  EXPECT_EQ(encode("(1.5 2.5 n0 \"s\" x)", t).substr(0, 13), "(1.5 2.5\x0f\x00\"s\""s);
  // Top-level data that do not end with a parenthesis get a separator
  // before the next one (the end of the text needs none).
  EXPECT_EQ(encode("(let) (let)\n\"s\" 'x", t), "(\x07)(\x07)\"s\"\r'\x08\x11\x39"s);
  // Kept lines (the packer's default): every line end of the source stays
  // one, and a separator is one only where the source had a line end.
  EXPECT_EQ(encode("(let) (let)\n\"s\" 'x\r\n\n(let\n;c\n x)", t, true),
            "(\x07)(\x07)\r\"s\" '\x08\x11\x39 \r\r(\x07\r\r\x08\x11\x39)"s);
  // Comments are dropped unless asked for.
  std::string kept;
  data::CodecError err;
  data::EncodeOptions keep;
  keep.keep_comments = true;
  keep.keep_lines = false;
  ASSERT_TRUE(data::encode_source("let ; note\n(let)", t, kept, err, keep));
  EXPECT_EQ(kept, "\x07\r; note\r(\x07)"s);
  // A table cannot hold a name with a zero byte: it stays text.
  EXPECT_EQ(t.entry("a\0b"s), -1);
}

TEST_F(EncodedTest, FaultsAreReportedWithTheirLine) {
  data::SymbolNames t;
  std::string code;
  data::CodecError err;
  auto fails = [&](const std::string& s) {
    code.clear();
    err = {};
    return !data::encode_source(s, t, code, err);
  };
  EXPECT_TRUE(fails("(a)\n(b\n\"open"));
  EXPECT_EQ(err.line, 3);
  EXPECT_TRUE(fails("(a)\n\n  (b (c)"));
  EXPECT_EQ(err.line, 3);
  EXPECT_TRUE(fails("a\r\n(b))\r\n"));
  EXPECT_EQ(err.line, 2);
  EXPECT_TRUE(fails("a\n\x01"s));
  EXPECT_EQ(err.line, 2);
  EXPECT_TRUE(fails("#"));
  // Leniently the faults are kept, to fail when loaded as the source does.
  data::EncodeOptions lenient;
  lenient.strict = false;
  EXPECT_TRUE(data::encode_source("x)", t, code, err, lenient));

  std::string out;
  EXPECT_FALSE(data::decode_code("(\x0f"s, {}, out, err));
  EXPECT_FALSE(data::decode_code("(\x0f\x01)"s, {"a"}, out, err));
  EXPECT_NE(err.message.find("beyond"), std::string::npos);
  EXPECT_TRUE(data::decode_code("(\x0f\x00\x0f\x00\x0b\x05)"s, {"a"}, out, err));
  EXPECT_EQ(out, "(a a 5)");
}

// Texts made of the pieces the syntax cares about, in random order: a text
// the encoder accepts decodes, and its decoded text encodes to the same
// bytes and reads to the same data.
TEST_F(EncodedTest, RandomTextsSurviveTheRoundTrip) {
  const char* pieces[] = {"(", ")", "[", "]", " ", "\r", "\n", "a", "bc", "12", "-3", "300", "40000", "1.5", "1|5",
                          ".", "|", "'", "\"s\"", "\"\"", "_", "_x", ":k", ":", "#\\a", "#\\space", "#(", ";c\n",
                          "\\", "\\ ", "e", "+", "-", "1e5", "a.b", "&", "{", "}", "\xe9", "let", "nil"};
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  set_symbol_value(intern_static("Features"), cons(intern_static("a"), kNil));
  set_symbol_value(intern_static("Load-File"), make_fixnum(1));
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int n = 1 + int(next() % 12);
    for (int i = 0; i < n; ++i) text += pieces[next() % (sizeof pieces / sizeof *pieces)];
    data::SymbolNames t;
    std::string code;
    data::CodecError err;
    data::EncodeOptions o;
    o.keep_lines = (round & 1) != 0;
    if (!data::encode_source(text, t, code, err, o)) continue;
    ++accepted;
    std::string decoded, again;
    ASSERT_TRUE(data::decode_code(code, t.names(), decoded, err)) << text << ": " << err.message;
    // The decoder lays lines out afresh: the same bytes come back without
    // kept lines. The code read below is the one encoded first.
    std::string first = code;
    if (o.keep_lines) {
      o.keep_lines = false;
      ASSERT_TRUE(data::encode_source(text, t, code, err, o)) << text;
    }
    ASSERT_TRUE(data::encode_source(decoded, t, again, err, o)) << text << " -> " << decoded << ": " << err.message;
    EXPECT_EQ(again, code) << text << " -> " << decoded;
    // Source references record positions in the text read, which encoding moves.
    if (text.find('{') != std::string::npos) continue;
    std::string want, got;
    try {
      want = data_of(text);
    } catch (const Thrower&) {
      continue;  // a text that fails to read (a missing character name, a bad feature test)
    }
    install(t);
    try {
      got = data_of(first);
    } catch (const Thrower&) {
      got = "<error>";
    }
    data::remove_symbols_table();
    EXPECT_EQ(got, want) << text;
  }
  EXPECT_GT(accepted, 300);
}

TEST_F(EncodedTest, SymbolNamesAreWrittenToReadBack) {
  EXPECT_EQ(data::symbol_source_text("abc"), "abc");
  EXPECT_EQ(data::symbol_source_text("12"), "\\12");
  EXPECT_EQ(data::symbol_source_text("-5"), "\\-5");
  EXPECT_EQ(data::symbol_source_text("1e5"), "\\1e5");
  EXPECT_EQ(data::symbol_source_text("+5"), "+5");
  EXPECT_EQ(data::symbol_source_text("a b"), "a\\ b");
  EXPECT_EQ(data::symbol_source_text(".x"), "\\.x");
  EXPECT_EQ(data::symbol_source_text("a.b"), "a.b");
  EXPECT_EQ(data::symbol_source_text(":key"), ":key");
  EXPECT_EQ(data::symbol_source_text("it's"), "it\\'s");
}

TEST_F(EncodedTest, TableResources) {
  data::SymbolNames t;
  t.add("ab");
  t.add("let");  // fixed: not in the resource
  t.add("");
  EXPECT_EQ(t.resource(), (std::vector<uint8_t>{0, 2, 'a', 'b', 0, 0}));
  std::vector<std::string> names;
  std::vector<uint8_t> r = t.resource();
  EXPECT_TRUE(data::parse_symbols_resource(r, names));
  EXPECT_EQ(names, (std::vector<std::string>{"ab", ""}));
  r.pop_back();
  EXPECT_FALSE(data::parse_symbols_resource(r, names));
  EXPECT_FALSE(data::parse_symbols_resource(std::vector<uint8_t>{0}, names));
}

TEST_F(EncodedTest, Utf8Sources) {
  EXPECT_TRUE(data::declares_utf8("; -*- coding: utf-8 -*-\n(a)"));
  EXPECT_TRUE(data::declares_utf8("\xEF\xBB\xBF;; -*- Coding: UTF-8 -*-"));
  EXPECT_FALSE(data::declares_utf8("(a)\n; -*- coding: utf-8 -*-"));
  EXPECT_FALSE(data::declares_utf8("; coding: latin-1"));
  std::string out;
  int line = 0;
  EXPECT_TRUE(data::utf8_source_to_1252("\"\xc3\xa9\xe2\x82\xac\"", out, line));
  EXPECT_EQ(out, "\"\xe9\x80\"");
  EXPECT_FALSE(data::utf8_source_to_1252("a\r\nb\n\xe4\xb8\xad", out, line));
  EXPECT_EQ(line, 3);
  for (const char* bad : {"\xc3", "\xc0\x80", "\xed\xa0\x80", "\xff", "\xe2\x82"}) {
    line = 0;
    EXPECT_FALSE(data::utf8_source_to_1252(bad, out, line)) << bad;
    EXPECT_EQ(line, 1);
  }
}

}  // namespace
